#include "workers/name_checks.h"

#include <unordered_set>

#include "common/case_fold.h"
#include "common/error.h"
#include "common/nearest_name.h"
#include "common/text.h"
#include "workers/script_runner.h"
#include "workers/sql_macros.h"

namespace ostrevane {
namespace {

constexpr size_t kShown = 20;  // names listed in one message

// Names in order of first appearance, each once (letter case aside).
class NameSet {
 public:
  void Add(std::string_view name) {
    if (folded_.insert(FoldCase(name)).second) names_.emplace_back(name);
  }
  void Add(const NameSet& other) {
    for (const std::string& name : other.names_) Add(name);
  }
  bool Has(std::string_view name) const { return folded_.count(FoldCase(name)) != 0; }
  bool empty() const { return names_.empty(); }
  const std::vector<std::string>& names() const { return names_; }

 private:
  std::vector<std::string> names_;
  std::unordered_set<std::string> folded_;
};

NameSet PlaceholderNames(std::string_view sql, SqlDialect dialect) {
  NameSet names;
  for (const Placeholder& p : FindPlaceholders(sql, dialect)) names.Add(p.name);
  return names;
}

// ":a, :b, ..."
std::string PlaceholderList(const NameSet& names) {
  std::vector<std::string> shown;
  for (size_t i = 0; i < names.names().size() && i <= kShown; ++i)
    shown.push_back(":" + names.names()[i]);
  return NameList(shown, kShown);
}

std::string Quoted(std::string_view text) { return Concat({"\"", text, "\""}); }

// A value given for a parameter, and where: "-params" or a macro line. An
// empty origin (a list taken from the line above) is not checked for use.
struct Given {
  std::string name;
  std::string origin;
};

std::vector<Given> FromList(const Job& job) {
  std::vector<Given> given;
  for (const NameValue& entry : job.sql_parameters)
    given.push_back({entry.name, job.params_inherited ? "" : "-params"});
  return given;
}

std::string MacroLineOrigin(MacroKind kind, int line, std::string_view statement) {
  return Concat({kind == MacroKind::kParam ? "\"--param \"" : "\"--fields \"", " line ",
                 std::to_string(line), " of ", statement});
}

std::vector<Given> FromParamLines(std::string_view sql, std::string_view statement) {
  std::vector<Given> given;
  for (const MacroEntry& item : ReadMacroLines(sql, MacroKind::kParam))
    given.push_back({item.entry.name, MacroLineOrigin(MacroKind::kParam, item.line, statement)});
  return given;
}

// The names that have a value: those given, and those of the run's
// -params, which every job may use and none has to.
NameSet NamesOf(const std::vector<Given>& given, const Job& job) {
  NameSet names;
  for (const Given& g : given) names.Add(g.name);
  for (const NameValue& entry : job.run_parameters) names.Add(entry.name);
  return names;
}

// The statements whose placeholders a list of values serves, for messages.
struct Served {
  std::string_view statements;  // "the SQL", "the SQL nor the per-record SQL"
  bool several = false;
};

// Every given value must be used by a placeholder of the statements it serves.
void CheckUsed(const std::vector<Given>& given, const NameSet& placeholders, Served served) {
  for (const Given& g : given) {
    if (g.origin.empty() || placeholders.Has(g.name)) continue;
    std::string message =
        Concat({g.origin, ": ", served.several ? "neither " : "", served.statements,
                served.several ? " has a placeholder " : " has no placeholder ",
                Quoted(":" + g.name), " ("});
    if (placeholders.empty())
      message += served.several ? "they have no placeholders)" : "it has no placeholders)";
    else
      message += Concat({served.several ? "their" : "its",
                         " placeholders: ", PlaceholderList(placeholders), ")"});
    const std::string nearest = NearestName(g.name, placeholders.names());
    if (!nearest.empty()) message += Concat({"; did you mean ", Quoted(":" + nearest), "?"});
    throw Exception(message);
  }
}

// Every placeholder must get a value from `values` (or `fields`, when given).
void CheckValued(const NameSet& placeholders, std::string_view statement, const NameSet& values,
                 std::string_view advice, const NameSet* fields = nullptr) {
  for (const std::string& name : placeholders.names()) {
    if (values.Has(name) || (fields && fields->Has(name))) continue;
    std::string message = Concat({statement, "'s placeholder ", Quoted(":" + name),
                                  " has no value (", advice, ")"});
    std::vector<std::string> near = values.names();
    if (fields) near.insert(near.end(), fields->names().begin(), fields->names().end());
    const std::string nearest = NearestName(name, near);
    if (!nearest.empty()) message += Concat({"; did you mean ", Quoted(nearest), "?"});
    throw Exception(message);
  }
}

std::string AdviceFor(const Job& job) {
  if (job.sql_parameters.empty()) return "give it in -params or on a \"--param \" line";
  if (job.params_inherited)
    return "give it in -params; this line takes the -params of the line above, so its SQL's "
           "\"--param \" lines are not read";
  return "give it in -params; \"--param \" lines are not read when the job has -params";
}

// The values of the per-record SQL: the job's list, or when that is empty
// even after the main SQL's macro lines, the per-record SQL's own lines.
std::vector<Given> RecordValues(const Job& job, const std::vector<Given>& main_values) {
  if (!main_values.empty()) return main_values;
  return FromParamLines(job.per_record_sql, "the per-record SQL");
}

}  // namespace

void CheckResultJobParameters(const Job& job, Query& main, SqlDialect dialect) {
  if (!job.post_sql.empty()) {
    // The global post-SQL takes values from its own lines only. Checked
    // first: a -params value meant for it is then explained by its message.
    const NameSet post_names = PlaceholderNames(job.post_sql, dialect);
    const std::vector<Given> post_values = FromParamLines(job.post_sql, "the global post-SQL");
    CheckUsed(post_values, post_names, {"the global post-SQL"});
    NameSet post_valued;
    for (const Given& g : post_values) post_valued.Add(g.name);
    CheckValued(post_names, "the global post-SQL", post_valued,
                "it takes values only from its own \"--param \" lines");
  }

  NameSet main_names;
  for (const Param& p : main.params().items()) main_names.Add(p.name);
  const bool per_record = !job.per_record_sql.empty();
  const NameSet record_names =
      per_record ? PlaceholderNames(job.per_record_sql, dialect) : NameSet();
  // The job's list, or the main SQL's "--param " lines when it has none,
  // serve the main and the per-record SQL.
  const std::vector<Given> values =
      job.sql_parameters.empty() ? FromParamLines(job.sql, "the SQL") : FromList(job);
  NameSet served = main_names;
  served.Add(record_names);
  CheckUsed(values, served,
            per_record ? Served{"the SQL nor the per-record SQL", true} : Served{"the SQL"});
  CheckValued(main_names, "the SQL", NamesOf(values, job), AdviceFor(job));
  if (per_record && values.empty())  // the per-record SQL's own lines serve it alone
    CheckUsed(RecordValues(job, {}), record_names, {"the per-record SQL"});
}

void CheckResultNames(const Job& job, bool fields_from_sql, Query& result, SqlDialect dialect) {
  NameSet fields;
  for (size_t i = 0; i < result.FieldCount(); ++i) fields.Add(result.FieldAt(i).name());

  if (!job.csv_path.empty()) {
    std::vector<MacroEntry> lines;
    if (fields_from_sql) lines = ReadMacroLines(job.sql, MacroKind::kFields);
    for (size_t i = 0; i < job.csv_fields.size(); ++i) {
      const std::string& name = job.csv_fields[i].name;
      if (fields.Has(name)) continue;
      const std::string origin =
          fields_from_sql && i < lines.size()
              ? MacroLineOrigin(MacroKind::kFields, lines[i].line, "the SQL")
              : job.fields_inherited ? "-fields (taken from the line above)" : "-fields";
      std::string message = Concat({origin, ": the result has no field ", Quoted(name),
                                    " (its fields: ", NameList(fields.names(), kShown), ")"});
      const std::string nearest = NearestName(name, fields.names());
      if (!nearest.empty()) message += Concat({"; did you mean ", Quoted(nearest), "?"});
      throw Exception(message);
    }
  }

  if (!job.per_record_sql.empty()) {
    const std::vector<Given> values = RecordValues(job, FromList(job));
    CheckValued(PlaceholderNames(job.per_record_sql, dialect), "the per-record SQL",
                NamesOf(values, job), "it is no field of the result and no value is given for it",
                &fields);
  }
}

void CheckScriptParameters(const Job& job, SqlDialect dialect) {
  NameSet names;
  for (const ScriptBatch& batch : ScriptBatches(job.sql))
    names.Add(PlaceholderNames(batch.text, dialect));
  CheckUsed(FromList(job), names, {"the script"});
  CheckValued(names, "the script", NamesOf(FromList(job), job),
              "give it in -params; a script reads no \"--param \" lines");
}

}  // namespace ostrevane
