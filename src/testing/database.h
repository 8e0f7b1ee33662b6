// Helpers for tests that talk to a database through the interface.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/error.h"
#include "data/dataset.h"

namespace ostrevane::testing {

// Runs `f`, expects it to raise an EDatabaseError and returns its message;
// records a failure (and returns "") when it raises nothing.
template <typename F>
std::string DatabaseErrorOf(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    EXPECT_EQ(e.class_name(), kEDatabaseError);
    return e.message();
  }
  ADD_FAILURE() << "no error";
  return "";
}

// Runs `sql` as a command.
inline void ExecSql(Connection& c, const std::string& sql) {
  Query q(c);
  q.SetSql(sql);
  q.Execute();
}

// All rows of a query, as the backend delivered them.
inline std::vector<std::vector<Value>> QueryRows(Connection& c, const std::string& sql) {
  Query q(c);
  q.SetSql(sql);
  q.Open();
  std::vector<std::vector<Value>> rows;
  for (; !q.Eof(); q.Next()) rows.push_back(q.current_row());
  return rows;
}

// Whether the ODBC driver `name` is registered in /etc/odbcinst.ini (the
// ODBC tests skip without it).
inline bool OdbcDriverRegistered(const std::string& name) {
  std::ifstream ini("/etc/odbcinst.ini");
  for (std::string line; std::getline(ini, line);)
    if (line.rfind("[" + name + "]", 0) == 0) return true;
  return false;
}

}  // namespace ostrevane::testing
