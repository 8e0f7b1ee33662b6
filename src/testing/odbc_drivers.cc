#include "testing/odbc_drivers.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ostrevane::testing {

std::string OdbcDriver(const std::string& name, const std::string& library) {
  const char* sysini = std::getenv("ODBCSYSINI");
  std::ifstream ini(std::string(sysini ? sysini : "/etc") + "/odbcinst.ini");
  for (std::string line; std::getline(ini, line);)
    if (line.rfind("[" + name + "]", 0) == 0) return name;
  for (const char* dir :
       {"/usr/lib/x86_64-linux-gnu/odbc", "/usr/lib/aarch64-linux-gnu/odbc", "/usr/lib/odbc"}) {
    const std::string path = std::string(dir) + "/" + library;
    if (std::filesystem::exists(path)) return path;
  }
  return "";
}

}  // namespace ostrevane::testing
