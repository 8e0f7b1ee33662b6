// The ODBC drivers a test can use: the SQLite, PostgreSQL and MariaDB
// drivers of the Debian packages, found by their odbcinst.ini names or
// their library files.
#pragma once

#include <string>

namespace ostrevane::testing {

// The driver's registered name, else the path of its library in the usual
// driver folders; empty when neither is there.
std::string OdbcDriver(const std::string& name, const std::string& library);

}  // namespace ostrevane::testing
