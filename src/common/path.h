// Paths. "/" and "\" are both folder delimiters: a "\" in a name that the
// program opens or creates is written as "/", so list files written for
// Windows keep working.
#pragma once

#include <string>
#include <string_view>

namespace ostrevane {

std::string NormalizePath(std::string_view path);
// NormalizePath, then one spelling for every spelling of one path: repeated
// "/" joined and "." levels dropped ("out//./x.csv" -> "out/x.csv",
// "./" -> ""). ".." levels stay: where a link leads decides what they mean.
// A path that ends with "/" or "/." keeps one final "/" (it names a folder).
std::string CleanPath(std::string_view path);
// The last part of a path: the text after its last "/" or "\" (the whole
// path when it has none).
std::string BaseName(std::string_view path);
// The name made absolute against the working directory (not resolved).
std::string AbsolutePath(std::string_view path);
// The folder of the running executable (readme.txt is installed there);
// ends with "/".
std::string ExecutableFolder();
// The folder holding settings.ini and names.csv; always ends with "/":
// $OSTREVANE_HOME when set; else the executable's folder when a
// settings.ini there is readable, or none is there and the folder is
// writable; else $XDG_CONFIG_HOME/ostrevane (~/.config/ostrevane), created
// with mode 0700 when missing.
std::string HomeFolder();
bool FileExists(const std::string& path);       // any kind of entry
bool DirectoryExists(const std::string& path);  // follows links

}  // namespace ostrevane
