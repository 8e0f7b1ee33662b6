#include "common/guid.h"

#include <sys/random.h>

#include <cstdio>
#include <cstring>

#include "common/error.h"

namespace ostrevane {

Guid NewGuid() {
  uint8_t b[16];
  size_t got = 0;
  while (got < sizeof b) {
    ssize_t n = getrandom(b + got, sizeof b - got, 0);
    if (n < 0) throw Exception("Cannot read the OS random source");
    got += size_t(n);
  }
  Guid g;
  std::memcpy(&g.data1, b, 4);
  std::memcpy(&g.data2, b + 4, 2);
  std::memcpy(&g.data3, b + 6, 2);
  std::memcpy(g.data4.data(), b + 8, 8);
  g.data3 = uint16_t((g.data3 & 0x0FFF) | 0x4000);
  g.data4[0] = uint8_t((g.data4[0] & 0x3F) | 0x80);
  return g;
}

std::string GuidToText(const Guid& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.8X-%.4X-%.4X-%.2X%.2X-%.2X%.2X%.2X%.2X%.2X%.2X", g.data1,
                g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4],
                g.data4[5], g.data4[6], g.data4[7]);
  return buf;
}

}  // namespace ostrevane
