#include "app/switches.h"

#include "common/error.h"
#include "common/text.h"
#include "control/options.h"
#include "data/connection_string.h"

namespace ostrevane {
namespace {

struct Command {
  std::string_view name;
  bool takes_value;  // a password or a file name; the rest take none
  bool whole;        // must be the whole parameter (nothing may follow)
};

constexpr Command kCommands[] = {
    {"list", true, false},       {"check", false, false},     {"help", false, true},
    {"version", false, true},    {"setmailpwd", true, false}, {"setsftppwd", true, false},
    {"sethttppwd", true, false}, {"sethttpproxypwd", true, false}, {"setftppwd", true, false},
    {"sets3secret", true, false}, {"part", true, false},     {"jobs", true, false},
    {"rerun", true, false},
    // Whole parameters without a value.
    {"run", false, true},        {"quiet", false, true},      {"progress", false, true},
};

// The command a parameter names, or null. After "/" the name must be the
// whole parameter or be followed by ":", so that "/srv/jobs.txt" stays a
// value; after "-" the lookup's prefix rule applies.
const Command* CommandOf(std::string_view arg) {
  if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '/')) return nullptr;
  const std::string_view text = arg.substr(1);
  for (const Command& c : kCommands) {
    if (!IStartsWith(text, c.name)) continue;
    const bool ends = text.size() == c.name.size();
    if (ends || (!c.whole && (arg[0] == '-' || text[c.name.size()] == ':'))) return &c;
  }
  return nullptr;
}

bool IsSwitch(std::string_view arg) {
  return !arg.empty() && (arg[0] == '-' || CommandOf(arg) != nullptr);
}

}  // namespace

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
    if ((IsSwitch(a) && IEquals(std::string_view(a).substr(1), "help")) || IEquals(a, "--help") ||
        IEquals(a, "-h"))
      return true;
  return false;
}

bool HasWholeSwitch(const std::vector<std::string>& args, std::string_view name) {
  for (const std::string& a : args)
    if (IsSwitch(a) && IEquals(std::string_view(a).substr(1), name)) return true;
  return false;
}

bool HasVersionSwitch(const std::vector<std::string>& args) {
  return HasWholeSwitch(args, "version");
}

namespace {

// Calls `other` with the index of every parameter that is neither a
// command nor a command's value.
template <typename Other>
void ForOtherParameters(const std::vector<std::string>& args, Other other) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (IEquals(a, "--help") || IEquals(a, "-h")) continue;
    if (const Command* c = CommandOf(a)) {
      // A value in the next parameter belongs to this command.
      if (c->takes_value && a.size() == 1 + c->name.size() && i + 1 < args.size() &&
          !IsSwitch(args[i + 1]))
        ++i;
      continue;
    }
    other(i);
  }
}

}  // namespace

void CheckCommandLine(const std::vector<std::string>& args,
                      const std::function<bool(std::string_view)>& is_job_option) {
  ForOtherParameters(args, [&](size_t i) {
    const std::string& a = args[i];
    if (!a.empty() && a[0] == '-') {
      if (is_job_option(a)) return;
      throw Exception("unknown switch " + CutForMessage(MaskedOption(a)));
    }
    throw Exception("unknown parameter " + CutForMessage(MaskSecrets(a)));
  });
}

std::vector<std::string> JobOptionParameters(const std::vector<std::string>& args) {
  std::vector<std::string> options;
  ForOtherParameters(args, [&](size_t i) { options.push_back(args[i]); });
  return options;
}

}  // namespace ostrevane
