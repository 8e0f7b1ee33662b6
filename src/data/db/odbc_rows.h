// Reading an ODBC result a block of rows at a time: every column is bound
// (SQLBindCol) column-wise into a typed buffer, and one SQLFetch fills up
// to rows() rows of them. This spares the per-cell SQLGetData calls, which
// cost the driver manager and the driver more than the conversions.
//
// A value longer than its buffer (text, decimal digits and bytes have
// buffers of the size the driver declares, or a first 256 characters) is
// read again whole with SQLGetData, never cut; inside a block of several
// rows that needs SQLSetPos to the row first, which only some drivers get
// right (OdbcDriverTraits), so results with such columns are read a row a
// fetch from the others. A fetch that fails hands over the rows the driver
// says arrived before the failure, and then raises the driver's error.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <string>
#include <vector>

#include "data/db/odbc_columns.h"
#include "data/db/odbc_session.h"

namespace ostrevane::odbc {

// How one column is bound.
struct BoundColumn {
  SQLSMALLINT c_type = SQL_C_CHAR;
  SQLLEN width = 0;       // bytes of one row's element
  SQLLEN terminator = 0;  // bytes of the NUL the driver writes after text
  bool may_overflow = false;  // a value can be longer than `width`
};

struct BlockPlan {
  std::vector<BoundColumn> columns;
  size_t rows = 1;  // rows a fetch
};

// The binding of `columns` for a session that reads text narrow or wide,
// with a driver of `traits`: a block holds at most 1,000 rows and about
// 2 MiB.
BlockPlan PlanBlock(const std::vector<Column>& columns, bool narrow_text,
                    const OdbcDriverTraits& traits);

class RowBlock {
 public:
  // Binds the result's columns. Null when the driver cannot read bound
  // columns again with SQLGetData or refuses the row-array attributes: the
  // result is then read cell by cell.
  static std::unique_ptr<RowBlock> Bind(SQLHSTMT stmt, const std::vector<Column>& columns,
                                        const Session& s);

  // The next row into `row` (resized to the columns); false at the end of
  // the result set. A failed fetch raises its error once the rows before
  // the failure are handed over.
  bool Next(SQLHSTMT stmt, const std::vector<Column>& columns, const Session& s,
            std::vector<Value>& row);

  size_t rows() const { return plan_.rows; }

 private:
  explicit RowBlock(BlockPlan plan);
  // Fetches the next block; false at the end of the result set.
  bool FetchBlock(SQLHSTMT stmt, const Session& s);
  void ReadCell(SQLHSTMT stmt, size_t column, const Column& col, const Session& s, Value& v);

  BlockPlan plan_;
  std::vector<std::unique_ptr<uint64_t[]>> data_;  // one array of plan_.rows elements a column
  std::vector<std::vector<SQLLEN>> indicators_;
  std::vector<SQLUSMALLINT> status_;
  SQLULEN fetched_ = 0;
  size_t count_ = 0;  // rows of the block to hand over
  size_t next_ = 0;   // the next of them
  static constexpr size_t kNoRow = size_t(-1);
  size_t positioned_ = kNoRow;  // the row of the block SQLSetPos moved the driver to
  bool ended_ = false;
  std::string error_;  // the failed fetch's message, raised after its rows
  ColumnReader reader_;
};

}  // namespace ostrevane::odbc
