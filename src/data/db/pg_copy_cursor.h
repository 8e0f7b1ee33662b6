// The cursor of a query read as a COPY ... TO STDOUT stream in text format.
// The server sends each row as one buffer of tab-separated fields, so the
// client builds no result object per row: about a tenth of the client's
// instructions of single-row mode. The values are the same texts a
// text-format result holds, so they are converted the same way.
//
// Only a query without parameters can be streamed so (COPY takes no
// parameters); its columns are learnt first by describing the prepared
// statement, which parses it without running it.
#pragma once

#include <memory>
#include <string_view>

#include "data/db/backend.h"
#include "data/db/pg_session.h"

namespace ostrevane {

// Runs `query` (one statement that returns rows, without its ";") as a COPY
// stream over the idle `session`. Waits under `deadline` until the first row
// arrives or the statement ends, canceling it when the deadline expires, and
// raises the statement's error if it fails before that. Returns nullptr,
// with nothing run, when the statement describes no result columns (e.g.
// SELECT ... INTO); the caller then runs it the usual way.
std::unique_ptr<Cursor> OpenPgCopyCursor(std::shared_ptr<PgSession> session, std::string_view query,
                                         PgDeadline& deadline);

}  // namespace ostrevane
