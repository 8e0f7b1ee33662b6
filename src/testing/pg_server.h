// The throwaway PostgreSQL cluster of the test run (scripts/pg_cluster.sh
// starts it and exports OSTREVANE_PG_PORT). Tests that need a server call
// PgPort() or FreshPgDatabase() and skip when they return nothing.
#pragma once

#include <string>

namespace ostrevane::testing {

// The cluster's port; empty when no cluster runs.
std::string PgPort();

// "Provider=PostgreSQL;Data Source=127.0.0.1:PORT;Initial Catalog=DB;User ID=postgres"
std::string PgConnectionString(const std::string& database);

// Creates a new database with a unique name (so tests may run in parallel)
// and returns its connection string; empty when no cluster runs. `options`
// are appended to CREATE DATABASE (e.g. "ENCODING 'SQL_ASCII' ...").
std::string FreshPgDatabase(const std::string& options = "");

// Runs SQL on the cluster's "postgres" database as the superuser.
void PgAdmin(const std::string& sql);

}  // namespace ostrevane::testing
