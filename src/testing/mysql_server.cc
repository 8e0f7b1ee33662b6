#include "testing/mysql_server.h"

#include <cstdlib>

#include "common/guid.h"
#include "common/text.h"
#include "data/dataset.h"

namespace ostrevane::testing {

std::string MysqlPort() {
  const char* port = std::getenv("OSTREVANE_MYSQL_PORT");
  return port ? port : "";
}

std::string MysqlSocket() {
  const char* socket = std::getenv("OSTREVANE_MYSQL_SOCKET");
  return socket ? socket : "";
}

std::string MysqlConnectionString(const std::string& database) {
  return "Provider=MySQL;Data Source=127.0.0.1:" + MysqlPort() + ";Initial Catalog=" + database +
         ";User ID=root";
}

void MysqlAdmin(const std::string& sql, const std::string& database) {
  Connection c;
  c.set_connection_string(MysqlConnectionString(database));
  c.Open();
  c.BeginTransaction(TransactionAccess::kWrite);
  Query q(c);
  q.SetSql(sql);
  q.Execute();
  c.Commit();
}

std::string FreshMysqlDatabase() {
  if (MysqlPort().empty()) return "";
  // A random name: tests of several processes share the server.
  std::string name = "t_" + ToLowerAscii(GuidToText(NewGuid()));
  for (char& c : name)
    if (c == '-') c = '_';
  MysqlAdmin("CREATE DATABASE " + name + " CHARACTER SET utf8mb4");
  return MysqlConnectionString(name);
}

}  // namespace ostrevane::testing
