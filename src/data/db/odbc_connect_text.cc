#include "data/db/odbc_connect_text.h"

#include "common/text.h"

namespace ostrevane {
namespace {

// A value braced when it holds characters that would end or confuse it.
std::string OdbcValue(const std::string& v) {
  if (v.size() >= 2 && v.front() == '{' && v.back() == '}') return v;  // braced already
  if (v.find_first_of(";{}") == std::string::npos &&
      (v.empty() || (v.front() != ' ' && v.back() != ' ')))
    return v;
  return "{" + ReplaceAll(v, "}", "}}") + "}";
}

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
    out.text += k + "=" + OdbcValue(value) + ";";
  }
  bool sqlite = false, postgres = false;
  for (const std::string& name : driver_names) {
    const std::string lower = ToLowerAscii(name);
    sqlite = sqlite || lower.find("sqlite") != std::string::npos;
    postgres = postgres || lower.find("psql") != std::string::npos ||
               lower.find("postgres") != std::string::npos;
  }
  if (sqlite && !HasKey(cs, "StepAPI")) out.text += "StepAPI=1;";
  if (postgres && !HasKey(cs, "UseDeclareFetch")) out.text += "UseDeclareFetch=1;";
  return out;
}

}  // namespace ostrevane
