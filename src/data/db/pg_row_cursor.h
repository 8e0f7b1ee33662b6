// The cursor of a statement read in libpq's single-row mode: one result
// object per row. It serves every statement the COPY stream cannot take
// (statements with parameters, the last of a script that is no query).
#pragma once

#include <memory>

#include "data/db/backend.h"
#include "data/db/pg_session.h"

namespace ostrevane {

// `session` has just sent the statement in single-row mode. Waits under
// `deadline` until the rows begin (or the statement ends) and raises the
// statement's error if it fails before that.
std::unique_ptr<Cursor> OpenPgRowCursor(std::shared_ptr<PgSession> session, PgDeadline deadline);

}  // namespace ostrevane
