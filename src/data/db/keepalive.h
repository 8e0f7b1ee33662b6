// The TCP keepalive probes of database connections: after a minute without
// traffic, every 10 s, and the connection counts as broken after 6
// unanswered ones. So a server whose machine or network went away is
// noticed in about two minutes, even in the middle of a result. (The ODBC
// driver rules in odbc_connect_text.cc give the PostgreSQL driver the same.)
#pragma once

namespace ostrevane {

inline constexpr int kKeepaliveIdleSeconds = 60;
inline constexpr int kKeepaliveIntervalSeconds = 10;
inline constexpr int kKeepaliveCount = 6;

}  // namespace ostrevane
