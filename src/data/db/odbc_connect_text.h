// The connection string the ODBC backend gives SQLDriverConnect, made from
// the job's OLE DB style string.
#pragma once

#include <string>
#include <vector>

#include "data/connection_string.h"

namespace ostrevane {

struct OdbcConnectText {
  std::string text;  // "DSN=x;UID=u;PWD={a;b};StepAPI=1;"
};

// "Data Source" names the DSN; "User ID", "Password" and "Initial Catalog"
// of data-link files become UID, PWD and DATABASE; "Extended Properties"
// (an ODBC string itself) is appended as it stands; "Provider" and
// "Persist Security Info" are dropped; every other key goes to the driver
// unchanged. `driver_names` identify the driver (its registered name and
// library): the SQLite and PostgreSQL drivers read whole results into
// memory unless told to stream, so StepAPI=1 / UseDeclareFetch=1 are added
// for them when the string does not set the option itself.
OdbcConnectText MakeOdbcConnectText(const ConnectionString& cs,
                                    const std::vector<std::string>& driver_names);

}  // namespace ostrevane
