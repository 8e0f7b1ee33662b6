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

// What the program knows of how a driver reads results (kDriverRules in
// the .cc); an unknown driver knows none of it.
struct OdbcDriverTraits {
  // With a UTF-8 character type, SQL_C_CHAR text is UTF-8: results may be
  // read narrow, which costs the driver less than UTF-16.
  bool utf8_narrow = false;
  // A fetch of a row array that fails keeps the rows before the failure
  // (the row count and row status say which arrived): results may be read
  // in blocks of rows.
  bool row_arrays = false;
  // SQLSetPos(SQL_POSITION) inside a block and then SQLGetData read that
  // very row: a value longer than its bound buffer can be read again whole.
  bool positioned_reads = false;
  // The rows the driver fetches from the server a round trip, when it
  // reads a result in batches (0: it has the whole result). A block of rows
  // must not straddle two batches, or a failing batch would take the rows
  // before it along.
  size_t batch_rows = 0;
};

struct OdbcConnectText {
  std::string text;  // "DSN=x;UID=u;PWD={a;b};StepAPI=1;"
  OdbcTransaction transaction = OdbcTransaction::kManualCommit;
  OdbcDriverTraits traits;
};

// "Data Source" names the DSN; "User ID", "Password" and "Initial Catalog"
// of data-link files become UID, PWD and DATABASE; "Extended Properties"
// (an ODBC string itself) is appended as it stands; "Provider" and
// "Persist Security Info" are dropped; every other key goes to the driver
// unchanged, its value braced when it needs braces ("PWD={a;b}}c}") and
// passed whole when the job's string braced it. `driver_names` identify the
// driver (its registered name and library) for the table of driver rules
// in the .cc: the option that makes it stream rows (added unless the
// string sets it), how it keeps one transaction while streaming and how
// its results may be read.
OdbcConnectText MakeOdbcConnectText(const ConnectionString& cs,
                                    const std::vector<std::string>& driver_names);

}  // namespace ostrevane
