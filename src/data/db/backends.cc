#include "common/error.h"
#include "common/text.h"
#include "data/db/backend.h"

namespace ostrevane {

std::unique_ptr<Backend> MakeBackend(const ConnectionString& cs) {
  const std::string provider = cs.Provider();
  if (IEquals(provider, "SQLite")) return MakeSqliteBackend();
  if (IEquals(provider, "PostgreSQL")) return MakePostgresBackend();
  if (IEquals(provider, "MySQL") || IEquals(provider, "MariaDB")) return MakeMysqlBackend();
  if (IEquals(provider, "ODBC") || IEquals(provider, "MSDASQL")) return MakeOdbcBackend();
  if (provider.empty()) throw Error(kEDatabaseError, "The connection string names no Provider");
  throw Error(kEDatabaseError, "Provider \"" + provider +
                                   "\" is not known (use SQLite, PostgreSQL, MySQL, MariaDB, ODBC or MSDASQL)");
}

}  // namespace ostrevane
