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

void ReadSqlMacros(const Query& query, tRec& rec, bool skip) {
  if (skip) return;
  // Both switches are taken once: what one line adds does not stop the next.
  const bool read_params = rec.params.empty();
  const bool read_fields = rec.fields.empty();
  if (!read_params && !read_fields) return;
  for (const std::string& line : query.lines()) {
    if (read_params && StartsWith(line, kParamPrefix)) {
      std::string rest = line.substr(kParamPrefix.size());
      while (!rest.empty()) {
        tParamRec entry;
        entry.name = Cut(rest, ';');
        Cut(rest, ';');  // the type word, not used
        entry.value = Cut(rest, ';');
        rec.params.push_back(std::move(entry));
      }
    } else if (read_fields && StartsWith(line, kFieldsPrefix)) {
      std::string rest = line.substr(kFieldsPrefix.size());
      while (!rest.empty()) {
        std::string piece = Cut(rest, ';');
        tParamRec entry;
        entry.name = Cut(piece, '=');
        entry.value = std::move(piece);
        rec.fields.push_back(std::move(entry));
      }
    }
  }
}

void BindParameters(Params& params, const tRec& rec, const TFormatSettings& fs,
                    const Query* dataset, const Clock& clock) {
  // A name that occurs more than once in the statement binds every
  // occurrence to the same value: leaving the later ones NULL would
  // silently change what the statement does.
  auto each_named = [&params](std::string_view name, auto&& set) {
    for (Param& p : params.items())
      if (IEquals(p.name, name)) set(p);
  };
  for (const tParamRec& entry : rec.params) {
    if (!params.Find(entry.name)) continue;
    // Every entry gets its own GUID and moment.
    const Value value = Value::Text(ExpandTemplate(NewGuid(), entry.value, nullptr, clock.Now(), fs,
                                                   "YYYY-MM-DD", "HH:NN:SS", " "));
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
