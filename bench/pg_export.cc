// Reads 1,000,000 rows of 7 mixed columns from PostgreSQL through the
// data-access interface (streaming), through the ODBC backend with the
// PostgreSQL driver, and exports the same rows with psql's \copy to a CSV
// file, each in its own child process; prints elapsed time and peak RSS.
//
//   source scripts/pg_cluster.sh && pg_cluster_start
//   cmake --build build --target pg_export && build/pg_export [rows]
//
// Needs OSTREVANE_PG_PORT (and OSTREVANE_PG_BINDIR for psql, else PATH).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/error.h"
#include "data/dataset.h"

using namespace ostrevane;

namespace {

const char* kDatabase = "ostrevane_bench";
const char* kSelect = "SELECT id, code, amount, ratio, label, created, active FROM bench ORDER BY id";

std::string Port() {
  const char* p = std::getenv("OSTREVANE_PG_PORT");
  return p ? p : "";
}

std::string PgCs(const std::string& db) {
  return "Provider=PostgreSQL;Data Source=127.0.0.1:" + Port() + ";Initial Catalog=" + db +
         ";User ID=postgres";
}

void Exec(Connection& c, const std::string& sql) {
  Query q(c);
  q.SetSql(sql);
  q.set_command_timeout(0);
  q.Execute();
}

// Creates the table once; later runs reuse it.
void Prepare(long rows) {
  Connection admin;
  admin.set_connection_string(PgCs("postgres"));
  admin.Open();
  Query q(admin);
  q.SetSql(std::string("SELECT 1 FROM pg_database WHERE datname = '") + kDatabase + "'");
  q.Open();
  const bool exists = !q.Eof();
  q.Close();
  if (!exists) Exec(admin, std::string("CREATE DATABASE ") + kDatabase);
  Connection c;
  c.set_connection_string(PgCs(kDatabase));
  c.Open();
  Query n(c);
  n.SetSql("SELECT count(*) FROM pg_tables WHERE tablename = 'bench'");
  n.Open();
  if (n.FieldAt(0).value().i > 0) {
    n.SetSql("SELECT count(*) FROM bench");
    n.Open();
    if (n.FieldAt(0).value().i == rows) return;
    Exec(c, "DROP TABLE bench");
  }
  Exec(c,
       "CREATE TABLE bench (id int4 PRIMARY KEY, code int8, amount numeric(12,2), ratio float8, "
       "label varchar(40), created timestamp, active bool);"
       "INSERT INTO bench SELECT g, g * 7919::int8, (g % 100000) / 100.0, g / 3.0, "
       "'label number ' || g, TIMESTAMP '2015-01-01' + g * INTERVAL '1 second', g % 2 = 0 "
       "FROM generate_series(1, " + std::to_string(rows) + ") g; ANALYZE bench");
}

// Reads every row through the interface; returns the number read.
long ReadAll(const std::string& connection_string) {
  Connection c;
  c.set_connection_string(connection_string);
  c.Open();
  c.BeginTransaction();
  Query q(c);
  q.SetSql(kSelect);
  q.Open();
  long n = 0;
  size_t bytes = 0;
  for (; !q.Eof(); q.Next()) {
    ++n;
    bytes += q.FieldAt(4).value().s.size();
  }
  c.Commit();
  if (bytes == 0) std::fprintf(stderr, "no text read\n");
  return n;
}

struct Outcome {
  double seconds = 0;
  long max_rss_kib = 0;
  int status = 0;
};

// Runs `argv` as a child and measures it.
Outcome RunChild(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  Outcome o;
  o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  o.max_rss_kib = ru.ru_maxrss;
  o.status = status;
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (Port().empty()) {
      std::fprintf(stderr, "OSTREVANE_PG_PORT is not set (source scripts/pg_cluster.sh && pg_cluster_start)\n");
      return 2;
    }
    if (argc == 3 && std::string(argv[1]) == "--read") {
      long n = ReadAll(argv[2]);
      std::printf("%ld rows\n", n);
      return 0;
    }
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    Prepare(rows);
    const std::string self = "/proc/self/exe";
    char exe[4096];
    ssize_t len = readlink(self.c_str(), exe, sizeof exe - 1);
    if (len <= 0) return 2;
    exe[len] = 0;
    const char* bindir = std::getenv("OSTREVANE_PG_BINDIR");
    const std::string psql = bindir ? std::string(bindir) + "/psql" : "psql";
    const std::string csv = "/tmp/ostrevane_bench_copy.csv";

    struct Case {
      const char* name;
      std::vector<std::string> args;
    } cases[] = {
        {"libpq backend, streaming Query", {exe, "--read", PgCs(kDatabase)}},
        {"psql \\copy ... TO file CSV",
         {psql, "-q", "-h", "127.0.0.1", "-p", Port(), "-U", "postgres", "-d", kDatabase, "-c",
          std::string("\\copy (") + kSelect + ") TO '" + csv + "' CSV"}},
        {"ODBC backend, psqlODBC (UseDeclareFetch)",
         {exe, "--read",
          "Provider=ODBC;Driver=PostgreSQL Unicode;Servername=127.0.0.1;Port=" + Port() +
              ";Database=" + kDatabase + ";UID=postgres"}},
    };
    std::printf("%ld rows, 7 columns\n", rows);
    for (int pass = 0; pass < 2; ++pass) {  // the first pass warms the server's cache
      for (const Case& c : cases) {
        Outcome o = RunChild(c.args);
        if (pass == 1)
          std::printf("%-44s %7.2f s  peak RSS %7.1f MiB%s\n", c.name, o.seconds, o.max_rss_kib / 1024.0,
                      o.status == 0 ? "" : "  (failed)");
      }
    }
    std::remove(csv.c_str());
    return 0;
  } catch (const Error& e) {
    std::fprintf(stderr, "%s: %s\n", e.class_name().c_str(), e.message().c_str());
    return 1;
  }
}
