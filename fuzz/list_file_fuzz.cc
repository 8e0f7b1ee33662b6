// Options and list expansion: the input is a list file. Files that options
// name are looked up in an empty scratch folder, so they do not exist and
// fail with the program's own error; no input can make the target read
// anything outside it.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "common/error.h"
#include "control/list_file.h"
#include "control/options.h"
#include "fuzz_support.h"

using namespace ostrevane;

namespace {

class FixedClock : public Clock {
 public:
  DateTime Now() const override { return 45000.5; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Relative names in options resolve inside the scratch folder.
  if (chdir(fuzz::ScratchFolder().c_str()) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string list(reinterpret_cast<const char*>(data), size);
  // No absolute names and no climbing: "/dev/zero" or "../x" would read
  // files of this machine instead of the missing ones.
  std::replace(list.begin(), list.end(), '/', '_');
  std::replace(list.begin(), list.end(), '\\', '_');
  const std::string path = fuzz::WriteScratchFile("jobs.lst", list);

  Settings settings;
  settings.http.server = "http://example.invalid/post";
  settings.ftp.server = "ftp.example.invalid";
  const NamesTable names = {{"Sales", "salesdb"}, {"Quoted; name", "other"}};
  OptionContext ctx;
  ctx.settings = &settings;
  ctx.names = &names;
  ctx.format = DefaultFormatSettings();

  try {
    std::vector<Job> jobs = ReadListLines(path, ctx);
    ExpandList(jobs, ctx, FixedClock());
    DescribeJobs(jobs, settings.mail);
  } catch (const Error&) {
  }
  return 0;
}
