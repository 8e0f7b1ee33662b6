// Commands on the command line: parameters that start with "-", or with "/"
// followed by the name of a command (any other "/..." is a value, such as
// an absolute file name).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrevane {

// The first command parameter whose text after the "-" or "/" starts with
// `name` (ASCII case folded; after "-" more characters may follow) gives the
// command. Its value is the rest of that parameter after the name, one ":"
// directly after the name skipped; when nothing follows the name, the next
// parameter unless it is a command itself; else empty. Returns whether the
// command is given.
bool FindSwitch(const std::vector<std::string>& args, std::string_view name, std::string& value);

// "-help", "/help", "--help" or "-h", as the whole parameter, ASCII case
// folded.
bool HasHelpSwitch(const std::vector<std::string>& args);

// "-version" or "/version", as the whole parameter.
bool HasVersionSwitch(const std::vector<std::string>& args);
// "-NAME" or "/NAME", as the whole parameter, ASCII case folded: the
// commands without a value (-run, -quiet, -progress).
bool HasWholeSwitch(const std::vector<std::string>& args, std::string_view name);

// Throws Exception("unknown switch X") for the first parameter that starts
// with "-" (or "/" and a command name) and is neither a command nor, by
// `is_job_option`, a job option; and Exception("unknown parameter X") for a
// parameter that is no command and no command's value. A mistake must stop
// the run before anything runs, not leave it to guess.
void CheckCommandLine(const std::vector<std::string>& args,
                      const std::function<bool(std::string_view)>& is_job_option);

// The parameters that are neither a command nor a command's value, in
// order: after CheckCommandLine, the job options of the command line.
std::vector<std::string> JobOptionParameters(const std::vector<std::string>& args);

}  // namespace ostrevane
