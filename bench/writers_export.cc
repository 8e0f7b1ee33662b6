// Times the CSV and XML writers on a large result set.
//
//   writers_export [--rows N] [--out DIR] [--only LABEL] [--ansi CODEPAGE]
//                                                      1,000,000 generated rows (default);
//                                                      --ansi: the 8-bit code page (UTF-8)
//   writers_export [--out DIR] DB.sqlite [SQL]         rows read through the SQLite backend,
//                                                      next to `sqlite3 -csv` on the same query
//
// Each measurement runs in its own child process so that its peak resident
// memory is its own. Files go to DIR (default /tmp/ostrevane-bench).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "common/format_settings.h"
#include "control/job.h"
#include "data/dataset.h"
#include "writers/csv_writer.h"
#include "writers/xml_writer.h"

namespace {

using namespace ostrevane;

// Mixed-type rows made on the fly; the Values of the row are reused, as
// the database backends do.
class GeneratedCursor : public Cursor {
 public:
  explicit GeneratedCursor(int64_t rows) : rows_(rows) {
    fields_ = {{"ID", FieldType::kLargeint, 0},      {"NAME", FieldType::kString, 40},
               {"PRICE", FieldType::kFloat, 0},      {"AMOUNT", FieldType::kBCD, 0},
               {"CREATED", FieldType::kDateTime, 0}, {"ACTIVE", FieldType::kBoolean, 0},
               {"NOTE", FieldType::kString, 200}};
  }
  const std::vector<FieldDef>& fields() const override { return fields_; }
  bool Fetch(std::vector<Value>& row) override {
    if (next_ >= rows_) return false;
    const int64_t i = next_++;
    row.resize(fields_.size());
    row[0].SetInteger(i);
    name_.assign("customer ");
    name_ += std::to_string(i % 100000);
    if (i % 97 == 0) name_ += "; \"quoted\"";
    row[1].SetText(name_);
    row[2].SetDouble(double(i % 100000) / 7.0);
    row[3].SetCurrency(i * 137 % 100000000);
    row[4].SetDateTime(42000.0 + double(i) / 1440.0);
    row[5].SetBoolean(i % 3 == 0);
    if (i % 5 == 0)
      row[6].SetNull();
    else
      row[6].SetText(i % 2 ? "a short note" : "a somewhat longer note with <markup> & more text");
    return true;
  }

 private:
  std::vector<FieldDef> fields_;
  int64_t rows_;
  int64_t next_ = 0;
  std::string name_;
};

class GeneratedBackend : public Backend {
 public:
  explicit GeneratedBackend(int64_t rows) : rows_(rows) {}
  void Open(const ConnectionString&, int) override {}
  void Close() override {}
  void Begin() override {}
  void Commit() override {}
  void Rollback() override {}
  std::string Placeholder(size_t i) const override { return "?" + std::to_string(i + 1); }
  std::unique_ptr<Cursor> Run(const std::string&, const std::vector<BoundParam>&, int, bool) override {
    return std::make_unique<GeneratedCursor>(rows_);
  }

 private:
  int64_t rows_;
};

// Counts the rows a backend delivers, so that every measurement knows its
// row count whatever the source.
class CountingCursor : public Cursor {
 public:
  CountingCursor(std::unique_ptr<Cursor> inner, int64_t& rows) : inner_(std::move(inner)), rows_(rows) {}
  const std::vector<FieldDef>& fields() const override { return inner_->fields(); }
  bool Fetch(std::vector<Value>& row) override {
    if (!inner_->Fetch(row)) return false;
    ++rows_;
    return true;
  }

 private:
  std::unique_ptr<Cursor> inner_;
  int64_t& rows_;
};

class CountingBackend : public Backend {
 public:
  CountingBackend(std::unique_ptr<Backend> inner, int64_t& rows) : inner_(std::move(inner)), rows_(rows) {}
  void Open(const ConnectionString& connection_string, int t) override {
    inner_->Open(connection_string, t);
  }
  void Close() override { inner_->Close(); }
  void Begin() override { inner_->Begin(); }
  void Commit() override { inner_->Commit(); }
  void Rollback() override { inner_->Rollback(); }
  std::string Placeholder(size_t i) const override { return inner_->Placeholder(i); }
  std::unique_ptr<Cursor> Run(const std::string& sql, const std::vector<BoundParam>& p, int t,
                              bool want_rows) override {
    return std::make_unique<CountingCursor>(inner_->Run(sql, p, t, want_rows), rows_);
  }

 private:
  std::unique_ptr<Backend> inner_;
  int64_t& rows_;
};

struct Source {
  BackendFactory factory;
  std::string connection;
  std::string sql;
};

double CpuSeconds(const struct rusage& ru) {
  return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::string out_dir;  // emptied before every measurement
std::string only;  // --only: run the measurements whose label starts with this

// Runs `work` in a child process and prints one result line.
void Measure(const char* label, const std::function<int64_t(int64_t&)>& work) {
  if (!only.empty() && std::string(label).rfind(only, 0) != 0) return;
  // Every measurement starts without old output files to truncate.
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(out_dir, ec))
    std::filesystem::remove(entry.path(), ec);
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    return;
  }
  if (pid == 0) {
    try {
      int64_t rows = 0;
      struct rusage before, after, children;
      getrusage(RUSAGE_SELF, &before);
      const auto start = std::chrono::steady_clock::now();
      const int64_t bytes = work(rows);
      const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      getrusage(RUSAGE_SELF, &after);
      getrusage(RUSAGE_CHILDREN, &children);  // sqlite3 when it is measured
      const double cpu = CpuSeconds(after) - CpuSeconds(before) + CpuSeconds(children);
      const long peak = std::max(after.ru_maxrss, children.ru_maxrss);
      std::printf("%-22s %7.3f s wall %7.3f s cpu %10.0f rows/s %7.1f MB/s %7.1f MB  peak RSS %6.1f MiB\n",
                  label, secs, cpu, double(rows) / secs, double(bytes) / 1e6 / secs, double(bytes) / 1e6,
                  double(peak) / 1024.0);
    } catch (const std::exception& e) {
      std::printf("%-28s failed: %s\n", label, e.what());
    }
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
}

int64_t FileBytes(const std::vector<std::string>& files) {
  int64_t total = 0;
  for (const std::string& f : files) total += int64_t(std::filesystem::file_size(f));
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  int64_t rows = 1000000;
  std::string out = "/tmp/ostrevane-bench";
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rows" && i + 1 < argc)
      rows = std::atoll(argv[++i]);
    else if (a == "--only" && i + 1 < argc)
      only = argv[++i];
    else if (a == "--out" && i + 1 < argc)
      out = argv[++i];
    else if (a == "--ansi" && i + 1 < argc)
      SetAnsiCodePage(argv[++i]);
    else
      args.push_back(a);
  }
  std::filesystem::create_directories(out);
  out_dir = out;

  Source source;
  if (args.empty()) {
    source = {[rows](const ConnectionString&) { return std::make_unique<GeneratedBackend>(rows); },
              "Provider=Generated", "select"};
    std::printf("%lld generated rows, 7 columns (integer, text, float, BCD, date-time, Boolean, text)\n",
                static_cast<long long>(rows));
  } else {
    source = {[](const ConnectionString&) { return MakeSqliteBackend(); },
              "Provider=SQLite;Data Source=" + args[0],
              args.size() > 1 ? args[1] : std::string("select * from t")};
    std::printf("SQLite %s: %s\n", args[0].c_str(), source.sql.c_str());
  }

  const FormatSettings formats = DefaultFormatSettings();
  int64_t delivered = 0;  // rows read by the current measurement (in its process)
  const BackendFactory counted =
      [&](const ConnectionString& connection_string) -> std::unique_ptr<Backend> {
    return std::make_unique<CountingBackend>(source.factory(connection_string), delivered);
  };
  // As a worker's connection has it: the writers read it at every row.
  StopFlag stop;
  auto open = [&](Connection& conn, Query& q) {
    conn.set_stop_flag(&stop);
    conn.set_connection_string(source.connection);
    conn.Open();
    q.SetSql(source.sql);
    q.Open();
  };

  Measure("read only", [&](int64_t& n) -> int64_t {
    Connection conn(counted);
    Query q(conn);
    open(conn, q);
    for (; !q.Eof(); q.Next()) {
    }
    n = delivered;
    return 0;
  });
  for (uint8_t code_page : {0, 1}) {
    Measure(code_page == 1 ? "WriteCsvFiles (UTF-16LE)" : "WriteCsvFiles (8-bit)",
            [&](int64_t& n) -> int64_t {
              Connection conn(counted);
              Query q(conn);
              open(conn, q);
              Job job;
              job.csv_path = out + "/export.csv";
              job.csv_separator = ";";
              job.csv_quote = "\"";
              job.csv_code_page = code_page;
              job.timestamp = 42000;
              WriteCsvFiles(job, q, formats, " ");
              n = delivered;
              return FileBytes(job.written_files);
            });
  }
  Measure("WriteXmlFile", [&](int64_t& n) -> int64_t {
    Connection conn(counted);
    Query q(conn);
    open(conn, q);
    Job job;
    job.xml_path = out + "/export.xml";
    job.timestamp = 42000;
    WriteXmlFile(job, q, formats);
    n = delivered;
    return FileBytes(job.written_files);
  });
  if (!args.empty()) {
    // sqlite3 reads the same rows; their number comes from one more pass
    // through the backend, outside the measurement.
    int64_t delivered_by_sqlite = 0;
    {
      Connection conn(counted);
      Query q(conn);
      open(conn, q);
      for (; !q.Eof(); q.Next()) {
      }
      delivered_by_sqlite = delivered;
    }
    Measure("sqlite3 -csv", [&](int64_t& n) -> int64_t {
      const std::string file = out + "/sqlite3.csv";
      const std::string cmd = "sqlite3 -csv '" + args[0] + "' \"" + source.sql + "\" > '" + file + "'";
      if (std::system(cmd.c_str()) != 0) throw std::runtime_error("sqlite3 failed");
      n = delivered_by_sqlite;
      return int64_t(std::filesystem::file_size(file));
    });
  }
  return 0;
}
