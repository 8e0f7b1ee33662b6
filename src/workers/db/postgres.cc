#include "common/error.h"
#include "workers/db/backend.h"

namespace ostrevane {

// Placeholder until this backend lands.
std::unique_ptr<Backend> MakePostgresBackend() {
  throw Error(kEDatabaseError, "The Postgres backend is not available in this build");
}

}  // namespace ostrevane
