#include "data/db/odbc_connect_text.h"

#include <string_view>

#include "common/text.h"

namespace ostrevane {
namespace {

// Whether the whole value is one ODBC braced value ("{a;b}}c}").
bool IsBraced(const std::string& v) {
  if (v.size() < 2 || v.front() != '{') return false;
  for (size_t k = 1; k < v.size(); ++k) {
    if (v[k] != '}') continue;
    if (k + 1 < v.size() && v[k + 1] == '}') {
      ++k;
      continue;
    }
    return k + 1 == v.size();
  }
  return false;
}

// A value braced when it holds characters that would end or confuse it; a
// braced value of the job's string is passed as it stands.
std::string OdbcValue(const std::string& v) {
  if (IsBraced(v)) return v;
  if (v.find_first_of(";{}") == std::string::npos &&
      (v.empty() || (v.front() != ' ' && v.back() != ' ')))
    return v;
  return Concat({"{", ReplaceAll(v, "}", "}}"), "}"});
}

// What the program knows about particular drivers: the one place for it.
// A rule applies when `pattern` occurs in the driver's registered name or
// library file name (lower case).
struct DriverRule {
  std::string_view pattern;
  std::string_view stream_key;    // option that makes the driver stream rows
  std::string_view stream_value;  // ... and its value
  OdbcTransaction transaction;
};
constexpr DriverRule kDriverRules[] = {
    // Streams with StepAPI=1 only under autocommit: the transaction is
    // BEGIN ... COMMIT sent as statements.
    {"sqlite", "StepAPI", "1", OdbcTransaction::kSqlStatements},
    // Reads through a server-side cursor with UseDeclareFetch=1, which
    // needs the transaction of manual-commit mode anyway.
    {"psql", "UseDeclareFetch", "1", OdbcTransaction::kManualCommit},
    {"postgres", "UseDeclareFetch", "1", OdbcTransaction::kManualCommit},
};

bool HasKey(const ConnectionString& cs, std::string_view key) {
  if (cs.Has(key)) return true;
  return ConnectionString(cs.Get("Extended Properties")).Has(key);
}

}  // namespace

OdbcConnectText MakeOdbcConnectText(const ConnectionString& cs,
                                    const std::vector<std::string>& driver_names) {
  OdbcConnectText out;
  for (const auto& [key, value] : cs.entries()) {
    if (IEquals(key, "Provider") || IEquals(key, "Persist Security Info")) continue;
    if (IEquals(key, "Extended Properties")) {
      out.text += value;
      if (!value.empty() && value.back() != ';') out.text += ';';
      continue;
    }
    std::string k = key;
    if (IEquals(key, "Data Source"))
      k = "DSN";
    else if (IEquals(key, "User ID"))
      k = "UID";
    else if (IEquals(key, "Password"))
      k = "PWD";
    else if (IEquals(key, "Initial Catalog"))
      k = "DATABASE";
    out.text += Concat({k, "=", OdbcValue(value), ";"});
  }
  for (const DriverRule& rule : kDriverRules) {
    bool match = false;
    for (const std::string& name : driver_names)
      match = match || ToLowerAscii(name).find(rule.pattern) != std::string::npos;
    if (!match) continue;
    if (!HasKey(cs, rule.stream_key))
      out.text += std::string(rule.stream_key) + "=" + std::string(rule.stream_value) + ";";
    out.transaction = rule.transaction;
    break;
  }
  return out;
}

}  // namespace ostrevane
