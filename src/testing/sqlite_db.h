// SQLite databases for end-to-end tests, made and read through the
// program's own data-access interface.
#pragma once

#include <string>
#include <vector>

namespace ostrevane::testing {

// Creates the database file `path` (replacing it) and runs `sql` in it.
void CreateSqliteDatabase(const std::string& path, const std::string& sql);
// Runs `sql` and returns its rows, every value as text ("NULL" for null).
std::vector<std::vector<std::string>> SqliteRows(const std::string& path, const std::string& sql);
// The connection string of a database file.
std::string SqliteConnectionString(const std::string& path);
// A data-link file (UTF-16LE with mark) holding `connection_string`.
void WriteUdlFile(const std::string& path, const std::string& connection_string);

}  // namespace ostrevane::testing
