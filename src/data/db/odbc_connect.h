// SQLDriverConnect under the program's connection time-out.
#pragma once

#include <string>

#include "data/db/odbc_session.h"

namespace ostrevane::odbc {

// Connects s.dbc with the connection text and returns the driver's return
// code. The login and connection time-out attributes are set first; a
// driver may still wait without limit for a server that accepts and never
// answers (MariaDB's does), so with `seconds` > 0 the call runs on a
// thread of its own and the caller waits at most `seconds` + 1. When that
// passes, this throws the time-out error and leaves the call behind: its
// thread then owns s.env and s.dbc (moved out of `s`) and frees them when
// the driver returns; a call still stuck when the program ends is ended
// with the process, its handles never touched again.
SQLRETURN ConnectWithin(Session& s, std::string text, int seconds);

// Stops the running statement of MySQL/MariaDB connection `connection_id`
// with KILL QUERY from a connection of its own, made with the same
// connection text (so with the same TLS options) within `seconds`; whether
// the server took it. For drivers whose own cancel cannot reach the server.
bool KillMysqlQuery(const std::string& text, const std::string& connection_id, int seconds);

}  // namespace ostrevane::odbc
