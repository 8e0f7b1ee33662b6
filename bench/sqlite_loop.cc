// The floor for a SQLite export: a bare loop over the sqlite3 C API that
// writes every row of a query as CSV (values as SQLite gives their text,
// "," between them, CR LF between rows, no quoting) through a 1 MiB buffer.
// bench/compare.sh sets the program's SQLite-to-CSV export beside it.
// Usage: sqlite_loop DATABASE SQL OUTPUT
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s DATABASE SQL OUTPUT\n", argv[0]);
    return 2;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
    return 1;
  }
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, argv[2], -1, &st, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
    return 1;
  }
  std::FILE* out = std::fopen(argv[3], "wb");
  if (!out) {
    std::perror(argv[3]);
    return 1;
  }
  constexpr size_t kBuffer = size_t{1} << 20;
  auto buffer = std::make_unique<char[]>(kBuffer);
  std::setvbuf(out, buffer.get(), _IOFBF, kBuffer);
  const int columns = sqlite3_column_count(st);
  bool first = true;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    if (!first) std::fwrite("\r\n", 1, 2, out);
    first = false;
    for (int c = 0; c < columns; ++c) {
      if (c > 0) std::fputc(',', out);
      const unsigned char* text = sqlite3_column_text(st, c);
      if (text) std::fwrite(text, 1, size_t(sqlite3_column_bytes(st, c)), out);
    }
  }
  if (rc != SQLITE_DONE) {
    std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
    return 1;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return std::fclose(out) == 0 ? 0 : 1;
}
