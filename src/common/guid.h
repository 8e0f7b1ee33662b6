// GUIDs: random (version 4) from the OS random source.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace ostrevane {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};
};

Guid NewGuid();
// 36 characters, upper-case hexadecimal in groups of 8, 4, 4, 4 and 12
// joined by "-", no braces.
std::string GuidToText(const Guid& g);

}  // namespace ostrevane
