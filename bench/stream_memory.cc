// Peak memory of reading a large result through the data-access interface:
// once streamed (what a CSV-only or XML-only export does) and once kept for
// a second pass (rewindable). Each mode runs in its own process, so each
// peak RSS is its own.
//
//   stream_memory [ROWS]     builds a temporary SQLite database of ROWS
//                            (default 1,000,000) rows and measures both modes
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/error.h"
#include "data/dataset.h"

extern char** environ;

namespace {

using namespace ostrevane;

std::string Cs(const std::string& file) { return "Provider=SQLite;Data Source=" + file; }

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Build(const std::string& file, long rows) {
  std::ofstream(file, std::ios::trunc).close();  // an empty file is an empty database
  Connection conn;
  conn.set_connection_string(Cs(file));
  conn.Open();
  conn.BeginTransaction();
  Query q(conn);
  q.set_command_timeout(0);
  q.SetSql(
      "CREATE TABLE bench (id INTEGER, name VARCHAR(40), amount REAL, price DECIMAL(12,2), "
      "created DATETIME, active BOOLEAN, note VARCHAR(60));\n"
      "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
      std::to_string(rows) +
      ")\n"
      "INSERT INTO bench SELECT i, 'customer name ' || i, i * 1.25, round(i * 0.37, 2), "
      "datetime(1600000000 + i * 37, 'unixepoch'), i % 2, "
      "CASE WHEN i % 3 = 0 THEN NULL ELSE 'a note for row number ' || i END FROM c");
  q.Execute();
  conn.Commit();
}

// Reads every record and touches every value; a rewindable run reads twice.
int Read(const std::string& mode, const std::string& file) {
  const bool rewindable = mode == "rewindable";
  const auto start = std::chrono::steady_clock::now();
  Connection conn;
  conn.set_connection_string(Cs(file));
  conn.Open();
  Query q(conn);
  q.set_command_timeout(0);
  q.set_rewindable(rewindable);
  q.SetSql("SELECT id, name, amount, price, created, active, note FROM bench");
  q.Open();
  double checksum = 0;
  long records = 0;
  for (int pass = 0; pass < (rewindable ? 2 : 1); ++pass) {
    if (pass) q.First();
    for (; !q.Eof(); q.Next(), ++records) {
      for (size_t f = 0; f < q.FieldCount(); ++f) {
        const Value& v = q.FieldAt(f).value();
        switch (v.kind) {
          case ValueKind::kText:
          case ValueKind::kDecimal:
          case ValueKind::kGuid:
          case ValueKind::kBytes:
            checksum += double(v.s.size());
            break;
          case ValueKind::kDouble:
          case ValueKind::kSingle:
          case ValueKind::kDateTime:
            checksum += v.d;
            break;
          case ValueKind::kNull:
            break;
          default:
            checksum += double(v.i);
        }
      }
    }
  }
  q.Close();
  const double elapsed = Seconds(start);
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  std::printf("%-10s  passes %d  records read %ld  %.2f s  peak RSS %.1f MB  (checksum %.6g)\n",
              mode.c_str(), rewindable ? 2 : 1, records, elapsed, double(ru.ru_maxrss) / 1024.0,
              checksum);
  return 0;
}

int RunChild(const std::string& mode, const std::string& file) {
  std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::string a0 = self, a1 = "--read", a2 = mode, a3 = file;
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, environ) != 0) return 1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::string(argv[1]) == "--read") return Read(argv[2], argv[3]);
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    char dir[] = "/tmp/ostrevane-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string file = std::string(dir) + "/bench.db";
    const auto start = std::chrono::steady_clock::now();
    Build(file, rows);
    std::printf("built %ld rows of 7 columns in %.2f s (%.0f MB file)\n", rows, Seconds(start),
                double(std::filesystem::file_size(file)) / 1048576.0);
    std::fflush(stdout);
    int rc = RunChild("streaming", file);
    rc |= RunChild("rewindable", file);
    std::filesystem::remove_all(dir);
    return rc;
  } catch (const Error& e) {
    std::fprintf(stderr, "%s: %s\n", e.class_name().c_str(), e.what());
    return 1;
  }
}
