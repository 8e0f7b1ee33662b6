// Paths. "/" and "\" are both folder delimiters: a "\" in a name that the
// program opens or creates is written as "/", so list files written for
// Windows keep working.
#pragma once

#include <string>
#include <string_view>

namespace ostrevane {

std::string NormalizePath(std::string_view path);
// The name made absolute against the working directory (not resolved).
std::string AbsolutePath(std::string_view path);
// The folder holding settings.ini and names.csv: $OSTREVANE_HOME when set,
// else the folder of the running executable; always ends with "/".
std::string HomeFolder();
bool FileExists(const std::string& path);       // any kind of entry
bool DirectoryExists(const std::string& path);  // follows links

}  // namespace ostrevane
