#include "testing/pg_server.h"

#include <cstdlib>

#include "common/guid.h"
#include "common/text.h"
#include "data/dataset.h"

namespace ostrevane::testing {

std::string PgPort() {
  const char* port = std::getenv("OSTREVANE_PG_PORT");
  return port ? port : "";
}

std::string PgConnectionString(const std::string& database) {
  return "Provider=PostgreSQL;Data Source=127.0.0.1:" + PgPort() + ";Initial Catalog=" + database +
         ";User ID=postgres";
}

void PgAdmin(const std::string& sql) {
  Connection c;
  c.set_connection_string(PgConnectionString("postgres"));
  c.Open();
  Query q(c);
  q.SetSql(sql);
  q.Execute();
}

std::string FreshPgDatabase(const std::string& options) {
  if (PgPort().empty()) return "";
  // A random name: tests of several processes share the cluster.
  std::string name = "t_" + ToLowerAscii(GuidToText(NewGuid()));
  for (char& c : name)
    if (c == '-') c = '_';
  PgAdmin("CREATE DATABASE " + name + " " + options);
  return PgConnectionString(name);
}

}  // namespace ostrevane::testing
