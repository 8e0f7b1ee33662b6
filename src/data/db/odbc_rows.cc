#include "data/db/odbc_rows.h"

#include <algorithm>
#include <cstring>

namespace ostrevane::odbc {
namespace {

constexpr size_t kMaxRows = 1000;
constexpr size_t kBlockBytes = size_t{2} << 20;
// Text of a declared size up to this many characters gets a buffer that
// holds any value of it; longer or unknown ones a first buffer of
// kFirstChars, and longer values are read again.
constexpr int64_t kMaxBoundChars = 1024;
constexpr int64_t kFirstChars = 256;
constexpr int64_t kMaxBoundBytes = 4096;

BoundColumn Fixed(SQLSMALLINT c_type, size_t width) {
  return {c_type, SQLLEN(width), 0, false};
}

BoundColumn Plan(const Column& col, bool narrow) {
  const bool sized = col.size > 0 && col.size <= kMaxBoundChars;
  switch (col.conv) {
    case Conv::kInt:
      return Fixed(SQL_C_SBIGINT, sizeof(SQLBIGINT));
    case Conv::kUnsigned64:
      return Fixed(SQL_C_UBIGINT, sizeof(SQLUBIGINT));
    case Conv::kReal:
      return Fixed(SQL_C_FLOAT, sizeof(SQLREAL));
    case Conv::kDouble:
      return Fixed(SQL_C_DOUBLE, sizeof(SQLDOUBLE));
    case Conv::kBit:
      return Fixed(SQL_C_BIT, 1);
    case Conv::kDate:
      return Fixed(SQL_C_TYPE_DATE, sizeof(SQL_DATE_STRUCT));
    case Conv::kTime:
      return Fixed(SQL_C_TYPE_TIME, sizeof(SQL_TIME_STRUCT));
    case Conv::kTimestamp:
      return Fixed(SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT));
    case Conv::kBits:
      // At most 64 bits, described as such: never longer.
      return Fixed(SQL_C_BINARY, 8);
    case Conv::kCurrency:
    case Conv::kDecimal:
      // Digits, a sign, a point, a leading zero and the NUL.
      return {SQL_C_CHAR, SQLLEN(std::max<int64_t>(sized ? col.size + 4 : 0, 32)), 1, true};
    case Conv::kText:
    case Conv::kMemo:
    case Conv::kGuid: {
      const int64_t chars = sized && col.conv != Conv::kMemo ? col.size : kFirstChars;
      // A character is at most four UTF-8 bytes or two UTF-16 code units.
      if (narrow) return {SQL_C_CHAR, SQLLEN(chars * 4 + 1), 1, true};
      return {SQL_C_WCHAR, SQLLEN((chars * 2 + 1) * SQLLEN(sizeof(SQLWCHAR))),
              SQLLEN(sizeof(SQLWCHAR)), true};
    }
    case Conv::kBinary:
    case Conv::kLongBinary: {
      const bool fits = col.conv == Conv::kBinary && col.size > 0 && col.size <= kMaxBoundBytes;
      return {SQL_C_BINARY, SQLLEN(fits ? col.size : kFirstChars), 0, true};
    }
  }
  return {};
}

}  // namespace

BlockPlan PlanBlock(const std::vector<Column>& columns, bool narrow_text,
                    const OdbcDriverTraits& traits) {
  BlockPlan plan;
  size_t row_bytes = 0;
  bool may_overflow = false;
  for (const Column& col : columns) {
    plan.columns.push_back(Plan(col, narrow_text));
    row_bytes += size_t(plan.columns.back().width) + sizeof(SQLLEN);
    may_overflow = may_overflow || plan.columns.back().may_overflow;
  }
  plan.rows = 1;
  if (!traits.row_arrays || (may_overflow && !traits.positioned_reads)) return plan;
  plan.rows = std::clamp<size_t>(kBlockBytes / std::max<size_t>(row_bytes, 1), 1, kMaxRows);
  // The largest block that divides the batch.
  if (traits.batch_rows > 0)
    while (traits.batch_rows % plan.rows != 0) --plan.rows;
  return plan;
}

RowBlock::RowBlock(BlockPlan plan) : plan_(std::move(plan)) {
  for (const BoundColumn& b : plan_.columns) {
    const size_t bytes = size_t(b.width) * plan_.rows;
    data_.push_back(std::make_unique<uint64_t[]>((bytes + 7) / 8));
    indicators_.emplace_back(plan_.rows, 0);
  }
  status_.assign(plan_.rows, SQL_ROW_NOROW);
}

std::unique_ptr<RowBlock> RowBlock::Bind(SQLHSTMT stmt, const std::vector<Column>& columns,
                                         const Session& s) {
  if (!s.bound_reads) return nullptr;
  std::unique_ptr<RowBlock> block(
      new RowBlock(PlanBlock(columns, s.narrow_results, s.traits)));
  // A driver that changes the row count (01S02) or refuses an attribute
  // is read cell by cell; the attributes set so far do no harm there.
  auto set = [stmt](SQLINTEGER attribute, SQLPOINTER value) {
    return SQLSetStmtAttr(stmt, attribute, value, 0) == SQL_SUCCESS;
  };
  if (!set(SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN)) ||
      !set(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(block->plan_.rows)) ||
      !set(SQL_ATTR_ROWS_FETCHED_PTR, &block->fetched_) ||
      !set(SQL_ATTR_ROW_STATUS_PTR, block->status_.data())) {
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    return nullptr;
  }
  for (size_t c = 0; c < columns.size(); ++c) {
    const BoundColumn& b = block->plan_.columns[c];
    if (!Ok(SQLBindCol(stmt, SQLUSMALLINT(c + 1), b.c_type, block->data_[c].get(), b.width,
                       block->indicators_[c].data())))
      s.Fail(SQL_HANDLE_STMT, stmt);
  }
  return block;
}

bool RowBlock::FetchBlock(SQLHSTMT stmt, const Session& s) {
  std::fill(status_.begin(), status_.end(), SQLUSMALLINT(SQL_ROW_NOROW));
  fetched_ = 0;
  count_ = next_ = 0;
  positioned_ = kNoRow;
  const SQLRETURN rc = SQLFetch(stmt);
  if (rc == SQL_NO_DATA) return false;
  // The rows before the first that failed. A fetch that failed as a whole
  // vouches only for rows whose status says they arrived; one that did not
  // fail, for every row but those marked as errors.
  size_t arrived = std::min<size_t>(fetched_, plan_.rows);
  if (Ok(rc) && arrived == 0 && plan_.rows == 1) arrived = 1;
  auto good = [&](SQLUSMALLINT status) {
    if (status == SQL_ROW_ERROR) return false;
    return Ok(rc) || status == SQL_ROW_SUCCESS || status == SQL_ROW_SUCCESS_WITH_INFO;
  };
  while (count_ < arrived && good(status_[count_])) ++count_;
  if (!Ok(rc) || count_ < arrived) {
    std::string message = Diagnostics(SQL_HANDLE_STMT, stmt, s.wide);
    if (count_ == 0) s.Fail(message);
    error_ = std::move(message);
  }
  return true;
}

bool RowBlock::Next(SQLHSTMT stmt, const std::vector<Column>& columns, const Session& s,
                    std::vector<Value>& row) {
  while (next_ >= count_) {
    if (!error_.empty()) {
      const std::string message = std::move(error_);
      error_.clear();
      s.Fail(message);
    }
    if (ended_ || !FetchBlock(stmt, s)) {
      ended_ = true;
      return false;
    }
  }
  row.resize(columns.size());
  for (size_t c = 0; c < columns.size(); ++c) ReadCell(stmt, c, columns[c], s, row[c]);
  ++next_;
  return true;
}

void RowBlock::ReadCell(SQLHSTMT stmt, size_t column, const Column& col, const Session& s,
                        Value& v) {
  const BoundColumn& b = plan_.columns[column];
  const SQLLEN ind = indicators_[column][next_];
  const char* cell = reinterpret_cast<const char*>(data_[column].get()) + size_t(b.width) * next_;
  if (ind == SQL_NULL_DATA) {
    if (col.conv == Conv::kMemo) return v.SetText({});  // a null long text arrives as empty text
    return v.SetNull();
  }
  if (b.may_overflow && (ind == SQL_NO_TOTAL || ind > b.width - b.terminator)) {
    // Only the beginning arrived: it is read again whole, from this row.
    if (plan_.rows > 1 && positioned_ != next_) {
      if (!Ok(SQLSetPos(stmt, SQLSETPOSIROW(next_ + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE)))
        s.Fail(SQL_HANDLE_STMT, stmt);
      positioned_ = next_;
    }
    // What arrived: up to the NUL the driver wrote after the text.
    size_t start = size_t(b.width - b.terminator);
    if (b.terminator > 0) {
      for (size_t k = 0; k < start; k += size_t(b.terminator)) {
        if (std::memcmp(cell + k, "\0\0", size_t(b.terminator)) == 0) {
          start = k;
          break;
        }
      }
    }
    reader_.ReadAgain(stmt, SQLUSMALLINT(column + 1), col, s, std::string_view(cell, start), v);
    return;
  }
  switch (col.conv) {
    case Conv::kInt: {
      SQLBIGINT n;
      std::memcpy(&n, cell, sizeof n);
      return v.SetInteger(n, col.int_kind);
    }
    case Conv::kUnsigned64: {
      SQLUBIGINT n;
      std::memcpy(&n, cell, sizeof n);
      return SetUnsigned64(n, v);
    }
    case Conv::kReal: {
      SQLREAL f;
      std::memcpy(&f, cell, sizeof f);
      return v.SetDouble(double(f));
    }
    case Conv::kDouble: {
      SQLDOUBLE f;
      std::memcpy(&f, cell, sizeof f);
      return v.SetDouble(f);
    }
    case Conv::kBit:
      return v.SetBoolean(*cell != 0);
    case Conv::kDate: {
      SQL_DATE_STRUCT d;
      std::memcpy(&d, cell, sizeof d);
      return SetDate(col, d, v);
    }
    case Conv::kTime: {
      SQL_TIME_STRUCT t;
      std::memcpy(&t, cell, sizeof t);
      return SetTime(col, t, v);
    }
    case Conv::kTimestamp: {
      SQL_TIMESTAMP_STRUCT t;
      std::memcpy(&t, cell, sizeof t);
      return SetTimestamp(col, t, v);
    }
    case Conv::kBits:
      return SetBits(col, std::string_view(cell, size_t(std::min<SQLLEN>(ind, b.width))), v);
    case Conv::kCurrency:
    case Conv::kDecimal:
      return SetNumberText(col, std::string_view(cell, size_t(ind)), v);
    case Conv::kText:
    case Conv::kMemo:
    case Conv::kGuid:
      if (b.c_type == SQL_C_CHAR) return SetUtf8Text(col, std::string_view(cell, size_t(ind)), v);
      return SetUtf16Text(
          col,
          std::u16string_view(reinterpret_cast<const char16_t*>(cell), size_t(ind) / sizeof(char16_t)),
          v);
    case Conv::kBinary:
    case Conv::kLongBinary:
      if (col.conv == Conv::kLongBinary && ind == 0) return v.SetNull();  // empty arrives as null
      return v.SetText(std::string_view(cell, size_t(ind)), ValueKind::kBytes);
  }
}

}  // namespace ostrevane::odbc
