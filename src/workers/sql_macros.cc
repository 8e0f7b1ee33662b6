#include "workers/sql_macros.h"

#include <string_view>

#include "common/environment_text.h"
#include "common/guid.h"
#include "common/text.h"
#include "writers/value_text.h"

namespace ostrevane {
namespace {

constexpr std::string_view kParamPrefix = "--param ";
constexpr std::string_view kFieldsPrefix = "--fields ";

// Cuts the text up to the first `delimiter` off the front of `rest`; the
// delimiter goes too. Without one, the piece is all of `rest`. Macro lines
// know no quoting, so this stays a plain cut.
std::string_view Cut(std::string_view& rest, char delimiter) {
  const size_t at = rest.find(delimiter);
  const std::string_view piece = rest.substr(0, at);
  rest.remove_prefix(at == std::string_view::npos ? rest.size() : at + 1);
  return piece;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// The entries of one macro line, the prefix already cut off.
void ReadEntries(std::string_view rest, MacroKind kind, int line, std::vector<MacroEntry>& out) {
  while (!rest.empty()) {
    MacroEntry item;
    item.line = line;
    if (kind == MacroKind::kParam) {
      item.entry.name = Cut(rest, ';');
      Cut(rest, ';');  // the type word, not used
      item.entry.value = Cut(rest, ';');
    } else {
      std::string_view piece = Cut(rest, ';');
      item.entry.name = Cut(piece, '=');
      item.entry.value = piece;
    }
    out.push_back(std::move(item));
  }
}

}  // namespace

std::vector<MacroEntry> ReadMacroLines(std::string_view sql, MacroKind kind) {
  const std::string_view prefix = kind == MacroKind::kParam ? kParamPrefix : kFieldsPrefix;
  std::vector<MacroEntry> out;
  int number = 1;
  // Line breaks are CR LF, CR or LF; no line is copied but a macro line.
  for (size_t start = 0; start <= sql.size(); ++number) {
    size_t end = sql.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = sql.size();
    const std::string_view line = sql.substr(start, end - start);
    if (StartsWith(line, prefix))
      ReadEntries(line.substr(prefix.size()), kind, number, out);
    if (end == sql.size()) break;
    start = end + (sql[end] == '\r' && end + 1 < sql.size() && sql[end + 1] == '\n' ? 2 : 1);
  }
  return out;
}

void ApplySqlMacros(std::string_view sql, Job& job) {
  // Both switches are taken once: what one line adds does not stop the next.
  // A value of the run's -params stands above the SQL's own line.
  auto run_gives = [&job](std::string_view name) {
    for (const NameValue& entry : job.run_parameters)
      if (IEquals(entry.name, name)) return true;
    return false;
  };
  if (job.sql_parameters.empty())
    for (MacroEntry& item : ReadMacroLines(sql, MacroKind::kParam))
      if (!run_gives(item.entry.name)) job.sql_parameters.push_back(std::move(item.entry));
  if (job.csv_fields.empty())
    for (MacroEntry& item : ReadMacroLines(sql, MacroKind::kFields))
      job.csv_fields.push_back(std::move(item.entry));
}

void BindJobParameters(Params& params, const Job& job, const FormatSettings& formats,
                       const Query* dataset, const Clock& clock) {
  // A name used several times in the statement is one parameter: every
  // place takes the same value. The run's values first: the job's own
  // replace them.
  for (const std::vector<NameValue>* list : {&job.run_parameters, &job.sql_parameters}) {
    for (const NameValue& entry : *list) {
      Param* param = params.Find(entry.name);
      if (!param) continue;
      // Every entry gets its own GUID and moment. A value from the
      // environment goes in last, as it is: no macro of it is expanded.
      param->value = Value::Text(ExpandEnvironment(ExpandNameTemplate(
          NewGuid(), entry.value, nullptr, clock.Now(), formats, "YYYY-MM-DD", "HH:NN:SS", " ")));
    }
  }
  if (!dataset) return;
  for (size_t i = 0; i < dataset->FieldCount(); ++i) {
    const Field& field = dataset->FieldAt(i);
    if (Param* param = params.Find(field.name())) {
      param->type = field.type();
      param->value = field.value();  // null stays null
    }
  }
}

}  // namespace ostrevane
