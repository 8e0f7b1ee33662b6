#include "common/format_locale.h"

#include <clocale>
#include <cstdlib>

#include "common/error.h"
#include "common/text.h"

namespace ostrevane {
namespace {

// How the environment chose the process locale of the date and time
// formats: the first of LC_ALL, LC_TIME and LANG that is set decides.
std::string EnvironmentOrigin(const std::string& in_force) {
  for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    if (in_force == value) return std::string("from ") + variable;
    return Concat({"the environment's ", variable, "=", ShowControlCharacters(value),
                   " could not be set up on this machine"});
  }
  return "no LC_ALL, LC_TIME or LANG is set";
}

}  // namespace

FormatLocale ChooseFormatLocale(const std::string& pinned, const std::string& settings_path) {
  FormatLocale chosen;
  if (!pinned.empty()) {
    if (!NamedLocaleFormatSettings(pinned, chosen.formats))
      throw Exception("format_locale in " + settings_path + ": this machine has no locale \"" +
                      ShowControlCharacters(pinned) + "\"");
    chosen.name = pinned;
    chosen.origin = "format_locale in " + settings_path;
    return chosen;
  }
  const char* name = std::setlocale(LC_TIME, nullptr);
  chosen.name = name ? name : "C";
  chosen.formats = LocaleFormatSettings();
  chosen.origin = EnvironmentOrigin(chosen.name) +
                  "; format_locale in settings.ini pins the formats of one locale";
  return chosen;
}

}  // namespace ostrevane
