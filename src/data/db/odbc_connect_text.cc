#include "data/db/odbc_connect_text.h"

#include <array>
#include <charconv>
#include <optional>
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
// library file name (lower case). Its options are added unless the job's
// connection string sets them itself.
struct DriverOption {
  std::string_view key, value;
};
struct DriverRule {
  std::string_view pattern;
  std::array<DriverOption, 4> options;  // empty keys are unused places
  OdbcTransaction transaction;
  OdbcDriverTraits traits;
  // The options by which the driver reads a result in batches: a switch
  // ("1": on) and the batch's row count, from the job's string or the
  // rule's options. Empty: the driver has the whole result.
  std::string_view batch_switch, batch_size;
};
constexpr DriverRule kDriverRules[] = {
    // Streams with StepAPI=1 only under autocommit: the transaction is
    // BEGIN ... COMMIT sent as statements. A value longer than its bound
    // buffer cannot be read again inside a block (no SQLSetPos).
    {"sqlite", {{{"StepAPI", "1"}, {}}}, OdbcTransaction::kSqlStatements, {true, true, false, 0}, {}, {}},
    // Reads through a server-side cursor with UseDeclareFetch=1, which
    // needs the transaction of manual-commit mode anyway. The cursor is
    // fetched 1000 rows a round trip (the driver's default is 100): a
    // quarter less wall time at 1M rows, memory bounded by the batch.
    // TCP keepalive probes as the native providers send them (keepalive.h;
    // the driver has no key for their count).
    {"psql",
     {{{"UseDeclareFetch", "1"}, {"Fetch", "1000"}, {"KeepaliveTime", "60"},
       {"KeepaliveInterval", "10"}}},
     OdbcTransaction::kManualCommit,
     {true, true, true, 0},
     "UseDeclareFetch",
     "Fetch"},
    {"postgres",
     {{{"UseDeclareFetch", "1"}, {"Fetch", "1000"}, {"KeepaliveTime", "60"},
       {"KeepaliveInterval", "10"}}},
     OdbcTransaction::kManualCommit,
     {true, true, true, 0},
     "UseDeclareFetch",
     "Fetch"},
    // Has the whole result after the statement. Its SQLSetPos inside a
    // block leaves SQLGetData on the block's first row.
    {"mariadb", {}, OdbcTransaction::kManualCommit, {true, true, false, 0}, {}, {}},
    {"maodbc", {}, OdbcTransaction::kManualCommit, {true, true, false, 0}, {}, {}},
};

// The value of `key` in the job's string or its Extended Properties.
std::optional<std::string> KeyValue(const ConnectionString& cs, std::string_view key) {
  if (cs.Has(key)) return cs.Get(key);
  const ConnectionString extended(cs.Get("Extended Properties"));
  if (extended.Has(key)) return extended.Get(key);
  return std::nullopt;
}

bool HasKey(const ConnectionString& cs, std::string_view key) {
  return KeyValue(cs, key).has_value();
}

// The job's value of an option, else the rule's own, else "".
std::string OptionValue(const ConnectionString& cs, const DriverRule& rule, std::string_view key) {
  if (std::optional<std::string> own = KeyValue(cs, key)) return Trim(*own);
  for (const DriverOption& option : rule.options)
    if (option.key == key) return std::string(option.value);
  return "";
}

// The driver's batch of rows a round trip by the rule's options; 0 when it
// has the whole result. A size that does not read as a count is left to
// the driver, which then reads in batches of unknown size: one row.
size_t BatchRows(const ConnectionString& cs, const DriverRule& rule) {
  if (rule.batch_switch.empty() || OptionValue(cs, rule, rule.batch_switch) != "1") return 0;
  const std::string size = OptionValue(cs, rule, rule.batch_size);
  size_t rows = 0;
  const auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), rows);
  return ec == std::errc() && end == size.data() + size.size() && rows > 0 ? rows : 1;
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
    for (const DriverOption& option : rule.options)
      if (!option.key.empty() && !HasKey(cs, option.key))
        out.text += Concat({option.key, "=", option.value, ";"});
    out.transaction = rule.transaction;
    out.traits = rule.traits;
    out.traits.batch_rows = BatchRows(cs, rule);
    break;
  }
  return out;
}

}  // namespace ostrevane
