// The throwaway MariaDB server of the test run (scripts/mariadb_server.sh
// starts it and exports OSTREVANE_MYSQL_PORT and OSTREVANE_MYSQL_SOCKET).
// Tests that need a server call MysqlPort() or FreshMysqlDatabase() and skip
// when they return nothing.
#pragma once

#include <string>

namespace ostrevane::testing {

// The server's port and socket path; empty when no server runs.
std::string MysqlPort();
std::string MysqlSocket();

// "Provider=MySQL;Data Source=127.0.0.1:PORT;Initial Catalog=DB;User ID=root"
std::string MysqlConnectionString(const std::string& database);

// Creates a new database with a unique name (so tests may run in parallel)
// and returns its connection string; empty when no server runs.
std::string FreshMysqlDatabase();

// Runs SQL (several statements allowed) as root in `database` (none: no
// default database) and commits it.
void MysqlAdmin(const std::string& sql, const std::string& database = "");

}  // namespace ostrevane::testing
