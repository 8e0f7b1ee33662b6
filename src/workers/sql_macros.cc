#include "workers/sql_macros.h"

#include <string_view>

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
std::string Cut(std::string& rest, char delimiter) {
  const size_t at = rest.find(delimiter);
  std::string piece = rest.substr(0, at);
  rest.erase(0, at == std::string::npos ? std::string::npos : at + 1);
  return piece;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

}  // namespace

void ApplySqlMacros(const Query& query, Job& job, bool skip) {
  if (skip) return;
  // Both switches are taken once: what one line adds does not stop the next.
  const bool read_params = job.sql_parameters.empty();
  const bool read_fields = job.csv_fields.empty();
  if (!read_params && !read_fields) return;
  for (const std::string& line : query.lines()) {
    if (read_params && StartsWith(line, kParamPrefix)) {
      std::string rest = line.substr(kParamPrefix.size());
      while (!rest.empty()) {
        NameValue entry;
        entry.name = Cut(rest, ';');
        Cut(rest, ';');  // the type word, not used
        entry.value = Cut(rest, ';');
        job.sql_parameters.push_back(std::move(entry));
      }
    } else if (read_fields && StartsWith(line, kFieldsPrefix)) {
      std::string rest = line.substr(kFieldsPrefix.size());
      while (!rest.empty()) {
        std::string piece = Cut(rest, ';');
        NameValue entry;
        entry.name = Cut(piece, '=');
        entry.value = std::move(piece);
        job.csv_fields.push_back(std::move(entry));
      }
    }
  }
}

void BindJobParameters(Params& params, const Job& job, const FormatSettings& formats,
                       const Query* dataset, const Clock& clock) {
  // A name that occurs more than once in the statement binds every
  // occurrence to the same value: leaving the later ones NULL would
  // silently change what the statement does.
  auto each_named = [&params](std::string_view name, auto&& set) {
    for (Param& p : params.items())
      if (IEquals(p.name, name)) set(p);
  };
  for (const NameValue& entry : job.sql_parameters) {
    if (!params.Find(entry.name)) continue;
    // Every entry gets its own GUID and moment.
    const Value value = Value::Text(ExpandNameTemplate(NewGuid(), entry.value, nullptr, clock.Now(),
                                                       formats, "YYYY-MM-DD", "HH:NN:SS", " "));
    each_named(entry.name, [&](Param& p) { p.value = value; });
  }
  if (!dataset) return;
  for (size_t i = 0; i < dataset->FieldCount(); ++i) {
    const Field& field = dataset->FieldAt(i);
    each_named(field.name(), [&](Param& p) {
      p.type = field.type();
      p.value = field.value();  // null stays null
    });
  }
}

}  // namespace ostrevane
