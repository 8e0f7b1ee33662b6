#include "testing/sqlite_db.h"

#include "common/text.h"
#include "data/dataset.h"
#include "testing/temp_dir.h"

namespace ostrevane::testing {

std::string SqliteConnectionString(const std::string& path) {
  return "Provider=SQLite;Data Source=" + path;
}

void CreateSqliteDatabase(const std::string& path, const std::string& sql) {
  WriteFile(path, "");  // an empty file is an empty database
  Connection c;
  c.set_connection_string(SqliteConnectionString(path));
  c.Open();
  Query q(c);
  q.SetSql(sql);
  q.Execute();
  c.Close();
}

std::vector<std::vector<std::string>> SqliteRows(const std::string& path, const std::string& sql) {
  Connection c;
  c.set_connection_string(SqliteConnectionString(path));
  c.Open();
  Query q(c);
  q.SetSql(sql);
  q.Open();
  std::vector<std::vector<std::string>> rows;
  for (; !q.Eof(); q.Next()) {
    std::vector<std::string> row;
    for (size_t i = 0; i < q.FieldCount(); ++i) {
      const Value& v = q.FieldAt(i).value();
      switch (v.kind) {
        case ValueKind::kNull: row.push_back("NULL"); break;
        case ValueKind::kInt16: case ValueKind::kInt32: case ValueKind::kInt64:
        case ValueKind::kBoolean: row.push_back(std::to_string(v.i)); break;
        case ValueKind::kCurrency: row.push_back(std::to_string(double(v.i) / 10000)); break;
        case ValueKind::kSingle: case ValueKind::kDouble: case ValueKind::kDateTime:
          row.push_back(std::to_string(v.d)); break;
        default: row.push_back(v.s);
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

void WriteUdlFile(const std::string& path, const std::string& connection_string) {
  std::string bytes = "\xFF\xFE";
  AppendUtf16Le(bytes, "[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n" +
                           connection_string + "\r\n");
  WriteFile(path, bytes);
}

}  // namespace ostrevane::testing
