// The ways libpq can hand a large result to a client, measured bare: each
// mode reads every value of the query's rows (summing the bytes, so that
// nothing is optimised away) and prints its wall and CPU time. It tells
// how much of an export's client time the way of reading costs before any
// value is converted.
//
//   single   PQsetSingleRowMode: one PGresult per row (what the backend does)
//   cursor   DECLARE ... CURSOR, FETCH 1000 at a time, text values
//   copy     COPY (query) TO STDOUT: one text line per row from PQgetCopyData
//   binary   COPY (query) TO STDOUT (FORMAT binary)
//
//   source scripts/pg_cluster.sh && pg_cluster_start
//   cmake --build build --target pg_read_modes
//   build/pg_read_modes "host=127.0.0.1 port=$OSTREVANE_PG_PORT user=postgres dbname=bench"
//       "SELECT id, name, price, qty, sold, ok, note FROM t" [mode...]   (one line)
#include <libpq-fe.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Tally {
  long long rows = 0;
  long long bytes = 0;
};

[[noreturn]] void Die(PGconn* conn, const char* what) {
  std::fprintf(stderr, "%s: %s\n", what, PQerrorMessage(conn));
  std::exit(1);
}

void Check(PGconn* conn, PGresult* r, const char* what) {
  const ExecStatusType st = PQresultStatus(r);
  if (st == PGRES_FATAL_ERROR || st == PGRES_BAD_RESPONSE) Die(conn, what);
  PQclear(r);
}

Tally Single(PGconn* conn, const std::string& sql) {
  Tally t;
  if (!PQsendQuery(conn, sql.c_str()) || !PQsetSingleRowMode(conn)) Die(conn, "send");
  while (PGresult* r = PQgetResult(conn)) {
    if (PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
      ++t.rows;
      for (int c = 0; c < PQnfields(r); ++c) t.bytes += PQgetlength(r, 0, c) + PQgetisnull(r, 0, c);
    } else if (PQresultStatus(r) != PGRES_TUPLES_OK) {
      Die(conn, "single");
    }
    PQclear(r);
  }
  return t;
}

Tally Cursor(PGconn* conn, const std::string& sql) {
  Tally t;
  Check(conn, PQexec(conn, "BEGIN"), "begin");
  Check(conn, PQexec(conn, ("DECLARE c NO SCROLL CURSOR FOR " + sql).c_str()), "declare");
  for (;;) {
    PGresult* r = PQexec(conn, "FETCH 1000 FROM c");
    if (PQresultStatus(r) != PGRES_TUPLES_OK) Die(conn, "fetch");
    const int n = PQntuples(r);
    for (int i = 0; i < n; ++i)
      for (int c = 0; c < PQnfields(r); ++c) t.bytes += PQgetlength(r, i, c) + PQgetisnull(r, i, c);
    t.rows += n;
    PQclear(r);
    if (n == 0) break;
  }
  Check(conn, PQexec(conn, "COMMIT"), "commit");
  return t;
}

Tally Copy(PGconn* conn, const std::string& sql, bool binary) {
  Tally t;
  const std::string copy = "COPY (" + sql + ") TO STDOUT" + (binary ? " (FORMAT binary)" : "");
  PGresult* r = PQexec(conn, copy.c_str());
  if (PQresultStatus(r) != PGRES_COPY_OUT) Die(conn, "copy");
  PQclear(r);
  char* buf = nullptr;
  int n;
  while ((n = PQgetCopyData(conn, &buf, 0)) > 0) {
    ++t.rows;
    t.bytes += n;
    PQfreemem(buf);
  }
  if (n == -2) Die(conn, "copy data");
  Check(conn, PQgetResult(conn), "copy end");
  if (binary) t.rows -= 1;  // the trailer
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s CONNINFO SQL [single|cursor|copy|binary]...\n", argv[0]);
    return 2;
  }
  PGconn* conn = PQconnectdb(argv[1]);
  if (PQstatus(conn) != CONNECTION_OK) Die(conn, "connect");
  const std::string sql = argv[2];
  const char* all[] = {"single", "cursor", "copy", "binary"};
  const int modes = argc > 3 ? argc - 3 : 4;
  for (int m = 0; m < modes; ++m) {
    const char* mode = argc > 3 ? argv[3 + m] : all[m];
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    Tally t;
    if (std::strcmp(mode, "single") == 0) t = Single(conn, sql);
    else if (std::strcmp(mode, "cursor") == 0) t = Cursor(conn, sql);
    else if (std::strcmp(mode, "copy") == 0) t = Copy(conn, sql, false);
    else if (std::strcmp(mode, "binary") == 0) t = Copy(conn, sql, true);
    else return 2;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    getrusage(RUSAGE_SELF, &after);
    auto cpu = [](const rusage& u) {
      return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
             double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    std::printf("%-7s %9lld rows %11lld bytes  %6.3f s wall  %6.3f s client CPU\n", mode, t.rows,
                t.bytes, wall, cpu(after) - cpu(before));
  }
  PQfinish(conn);
  return 0;
}
