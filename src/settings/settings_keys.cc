#include "settings/settings_keys.h"

#include <map>

#include "common/case_fold.h"
#include "common/nearest_name.h"
#include "common/path.h"
#include "common/text.h"

namespace ostrevane {
namespace {

struct KnownKey {
  std::string_view section;
  std::string_view key;
};
// Every section and key of settings.ini, in the order of the manual.
constexpr KnownKey kKnownKeys[] = {
    {"Ostrevane", "connection_timeout"},
    {"Ostrevane", "command_timeout"},
    {"Ostrevane", "delivery_timeout"},
    {"Ostrevane", "job_timeout"},
    {"Ostrevane", "delivery_retries"},
    {"Ostrevane", "delivery_retry_delay"},
    {"Ostrevane", "log_dir"},
    {"Ostrevane", "thread_count"},
    {"Ostrevane", "ansi_codepage"},
    {"Ostrevane", "log_encoding"},
    {"Ostrevane", "format_locale"},
    {"Ostrevane", "metrics_file"},
    {"Mail", "Subject"},
    {"Mail", "Sender"},
    {"Mail", "Login"},
    {"Mail", "TLS"},
    {"Mail", "SMTPServer"},
    {"Mail", "SMTPPort"},
    {"Mail", "ReportMaxRecords"},
    {"Mail", "Password"},
    {"SFTP", "Server"},
    {"SFTP", "Port"},
    {"SFTP", "Login"},
    {"SFTP", "Password"},
    {"SFTP", "KeyFile"},
    {"SFTP", "KnownHosts"},
    {"HTTP", "Server"},
    {"HTTP", "Login"},
    {"HTTP", "Password"},
    {"HTTPProxy", "Server"},
    {"HTTPProxy", "Port"},
    {"HTTPProxy", "Login"},
    {"HTTPProxy", "Auth"},
    {"HTTPProxy", "Password"},
    {"FTP", "Server"},
    {"FTP", "Port"},
    {"FTP", "Login"},
    {"FTP", "TLS"},
    {"FTP", "Password"},
    {"S3", "Endpoint"},
    {"S3", "Region"},
    {"S3", "Bucket"},
    {"S3", "PathStyle"},
    {"S3", "AccessKey"},
    {"S3", "MultipartThreshold"},
    {"S3", "PartSize"},
    {"S3", "Secret"},
};

std::vector<std::string_view> KnownSections() {
  std::vector<std::string_view> sections;
  for (const KnownKey& k : kKnownKeys)
    if (sections.empty() || sections.back() != k.section) sections.push_back(k.section);
  return sections;
}

// The section as the program spells it, or empty when it knows none such.
std::string_view KnownSection(std::string_view section) {
  for (const KnownKey& k : kKnownKeys)
    if (NamesEqual(k.section, section)) return k.section;
  return {};
}

std::string Quoted(std::string_view name) {
  return Concat({"\"", ShowControlCharacters(name), "\""});
}

// What is known about an unknown key of a known section: where it belongs
// when one other section has it, else the closest key of its own section.
std::string UnknownKeyHint(std::string_view section, std::string_view key) {
  std::vector<std::string_view> homes;
  for (const KnownKey& k : kKnownKeys)
    if (NamesEqual(k.key, key)) homes.push_back(k.section);
  if (homes.size() == 1) return Concat({" (it belongs in [", homes[0], "])"});
  std::vector<std::string_view> keys;
  for (const KnownKey& k : kKnownKeys)
    if (NamesEqual(k.section, section)) keys.push_back(k.key);
  const std::string closest = NearestName(key, keys);
  return closest.empty() ? std::string() : " (did you mean " + Quoted(closest) + "?)";
}

}  // namespace

bool IsKnownSettingsKey(std::string_view section, std::string_view key) {
  for (const KnownKey& k : kKnownKeys)
    if (NamesEqual(k.section, section) && NamesEqual(k.key, key)) return true;
  return false;
}

std::vector<std::string> SettingsFileWarnings(const IniFile& ini) {
  std::vector<std::string> warnings;
  const std::string file = AbsolutePath(ini.path());
  auto warn = [&](int line, std::string_view text) {
    warnings.push_back(Concat({file, ", line ", std::to_string(line), ": ", text}));
  };
  // The first line of each section and key (folded names): later ones
  // are ignored by every reader.
  std::map<std::string, int> first_section;
  std::map<std::string, int> first_key;
  bool section_counts = false;  // the current section is the first of its name
  std::string_view known;       // the current section as the program spells it
  for (const IniFile::Entry& e : ini.Entries()) {
    switch (e.kind) {
      case IniFile::Entry::kSection: {
        known = KnownSection(e.name);
        const auto [first, is_first] = first_section.emplace(FoldCase(e.name), e.line);
        section_counts = is_first;
        if (!is_first) {
          warn(e.line, Concat({"section [", ShowControlCharacters(e.name),
                               "] is given a second time; only the first one (line ",
                               std::to_string(first->second),
                               ") counts, so the keys below this line are ignored"}));
        } else if (known.empty()) {
          const std::string closest = NearestName(e.name, KnownSections());
          warn(e.line, Concat({"unknown section [", ShowControlCharacters(e.name), "]",
                               closest.empty() ? "" : " (did you mean [" + closest + "]?)",
                               "; its keys are ignored"}));
        }
        break;
      }
      case IniFile::Entry::kKey: {
        if (first_section.empty()) {
          warn(e.line, "key " + Quoted(e.name) +
                           " stands before the first [section]; the line is ignored");
          break;
        }
        if (!section_counts || known.empty()) break;  // warned at the section
        if (!IsKnownSettingsKey(known, e.name)) {
          warn(e.line, Concat({"unknown key ", Quoted(e.name), " in [", known, "]",
                               UnknownKeyHint(known, e.name), "; the line is ignored"}));
          break;
        }
        const auto [first, is_first] =
            first_key.emplace(FoldCase(known) + "\n" + FoldCase(e.name), e.line);
        if (!is_first)
          warn(e.line, Concat({"key ", Quoted(e.name), " is given a second time in [", known,
                               "]; only the first one (line ", std::to_string(first->second),
                               ") counts"}));
        break;
      }
      case IniFile::Entry::kOther:
        warn(e.line, "the line " + Quoted(e.name) +
                         " is no key=value and no [section]; it is ignored");
        break;
    }
  }
  return warnings;
}

}  // namespace ostrevane
