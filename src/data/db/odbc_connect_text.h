// The connection string the ODBC backend gives SQLDriverConnect, made from
// the job's OLE DB style string.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/connection_string.h"

namespace ostrevane {

// How a job's transaction is kept with the connected driver.
enum class OdbcTransaction : uint8_t {
  kManualCommit,  // autocommit off, SQLEndTran to commit or roll back
  // Autocommit stays on and the program sends BEGIN, COMMIT and ROLLBACK:
  // the SQLite driver reads a whole result into memory in manual-commit
  // mode, whatever its StepAPI option says.
  kSqlStatements,
};

struct OdbcConnectText {
  std::string text;  // "DSN=x;UID=u;PWD={a;b};StepAPI=1;"
  OdbcTransaction transaction = OdbcTransaction::kManualCommit;
};

// "Data Source" names the DSN; "User ID", "Password" and "Initial Catalog"
// of data-link files become UID, PWD and DATABASE; "Extended Properties"
// (an ODBC string itself) is appended as it stands; "Provider" and
// "Persist Security Info" are dropped; every other key goes to the driver
// unchanged, its value braced when it needs braces ("PWD={a;b}}c}") and
// passed whole when the job's string braced it. `driver_names` identify the
// driver (its registered name and library) for the table of driver rules
// in the .cc: the option that makes it stream rows (added unless the
// string sets it) and how it keeps one transaction while streaming.
OdbcConnectText MakeOdbcConnectText(const ConnectionString& cs,
                                    const std::vector<std::string>& driver_names);

}  // namespace ostrevane
