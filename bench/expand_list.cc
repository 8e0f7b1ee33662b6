// Reads and expands generated list files and prints the rate. Shows that
// reading and expansion stay linear: a 100,000-line file, ten times the
// lines of a 10,000-line one, should take about ten times as long, and a
// single 1 MB line should take milliseconds.
//
//   cmake --build build --target expand_list && build/expand_list
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "control/list_file.h"
#include "control/options.h"

namespace {

using ostrevane::ExpandList;
using ostrevane::Job;
using ostrevane::OptionContext;
using ostrevane::ReadListLines;

// A temporary folder removed with its content at the end.
class Folder {
 public:
  Folder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ostrevane-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Lines as a nightly export list would hold them: a data-link file on the
// first line of each group of 100, an SQL file every tenth line, an output
// pattern and parameters on every line, the rest inherited from above.
std::string MakeList(const Folder& dir, int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    if (i % 100 == 0) text += "-clear -udl:" + dir / "a.udl" + " -csvformat:,' ";
    if (i % 10 == 0) text += "-sql:\"" + dir / "q.sql" + "\" ";
    text += "-tocsv:\"out dir\\?DATE_" + std::to_string(i) + ".csv\" -params:region=" +
            std::to_string(i % 7) + ";day=?DATE -fields:ID;DT=dd.mm.yyyy\r\n";
  }
  return text;
}

// One 1 MB line: a long parameter list and a long quoted output pattern.
std::string MakeLongLine(const Folder& dir) {
  std::string line = "-udl:" + dir / "a.udl" + " -params:";
  for (int i = 0; line.size() < 800000; ++i)
    line += "p" + std::to_string(i) + "=" + std::to_string(i) + ";";
  line += " -tocsv:\"" + std::string(250000, 'x') + " y.csv\"\r\n-sql:" + dir / "q.sql" + "\r\n";
  return line;
}

void Measure(const char* what, const std::string& path, const OptionContext& ctx) {
  using Clock = std::chrono::steady_clock;
  const auto t0 = Clock::now();
  std::vector<Job> jobs = ReadListLines(path, ctx);
  const auto t1 = Clock::now();
  ExpandList(jobs, ctx);
  const auto t2 = Clock::now();
  const double read_s = std::chrono::duration<double>(t1 - t0).count();
  const double expand_s = std::chrono::duration<double>(t2 - t1).count();
  const double mb = double(std::filesystem::file_size(path)) / 1e6;
  std::printf("%-22s %7zu jobs %8.2f MB  read %8.1f ms  expand %8.1f ms  %10.0f lines/s  %6.1f MB/s\n",
              what, jobs.size(), mb, read_s * 1e3, expand_s * 1e3,
              double(jobs.size()) / (read_s + expand_s), mb / (read_s + expand_s));
}

}  // namespace

int main() {
  Folder dir;
  Write(dir / "a.udl", "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n"
                       "Provider=SQLite;Data Source=bench.db\r\n");
  Write(dir / "q.sql", "--param region=1\r\nselect * from sales where region = :region\r\n");
  Write(dir / "list10k.txt", MakeList(dir, 10000));
  Write(dir / "list100k.txt", MakeList(dir, 100000));
  Write(dir / "longline.txt", MakeLongLine(dir));

  ostrevane::Settings settings;
  ostrevane::NamesTable names{{"Bench", "bench.db"}};
  OptionContext ctx;
  ctx.settings = &settings;
  ctx.names = &names;
  for (int round = 0; round < 3; ++round) {
    Measure("10,000 lines", dir / "list10k.txt", ctx);
    Measure("100,000 lines", dir / "list100k.txt", ctx);
    Measure("one 1 MB line (+1)", dir / "longline.txt", ctx);
  }
  return 0;
}
