#include "testing/json_lines.h"

#include <filesystem>

#include "testing/run_program.h"

namespace ostrevane::testing {

std::string JsonLinesProblems(const std::vector<std::string>& paths) {
  std::string problems;
  const std::string folder = std::filesystem::temp_directory_path();
  for (const std::string& path : paths) {
    if (std::filesystem::exists("/usr/bin/python3")) {
      const ProgramResult python = RunCommand(
          {"/usr/bin/python3", "-c",
           "import json, sys\n"
           "text = open(sys.argv[1], 'rb').read().decode('utf-8')\n"
           "assert text == '' or text.endswith('\\n'), 'the last line has no end'\n"
           "for line in text.split('\\n')[:-1]: json.loads(line)\n",
           path},
          folder, folder);
      if (python.exit_code != 0) problems += path + " (Python): " + python.out + "\n";
    }
    if (std::filesystem::exists("/usr/bin/jq")) {
      const ProgramResult jq = RunCommand({"/usr/bin/jq", "-c", ".", path}, folder, folder);
      if (jq.exit_code != 0) problems += path + " (jq): " + jq.out + "\n";
    }
  }
  return problems;
}

}  // namespace ostrevane::testing
