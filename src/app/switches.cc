#include "app/switches.h"

#include "common/text.h"

namespace ostrevane {

static bool IsSwitch(std::string_view arg) {
  return !arg.empty() && (arg[0] == '-' || arg[0] == '/');
}

bool FindSwitch(const std::vector<std::string>& args, std::string_view name, std::string& value) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!IsSwitch(a) || !IStartsWith(std::string_view(a).substr(1), name)) continue;
    const size_t rest = 1 + name.size();
    if (a.size() > rest) {
      value = a.substr(a[rest] == ':' ? rest + 1 : rest);
    } else if (i + 1 < args.size() && !IsSwitch(args[i + 1])) {
      value = args[i + 1];
    } else {
      value.clear();
    }
    return true;
  }
  value.clear();
  return false;
}

bool HasHelpSwitch(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (IsSwitch(a) && IEquals(std::string_view(a).substr(1), "help")) return true;
  return false;
}

}  // namespace ostrevane
