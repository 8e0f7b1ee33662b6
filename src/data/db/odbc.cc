// The ODBC backend on unixODBC (providers "ODBC" and "MSDASQL").
//
// Text crosses in the driver's own width: with a Unicode driver through the
// wide entry points and SQL_C_WCHAR (UTF-16), with an ANSI-only driver
// through the narrow ones as UTF-8 bytes (invalid bytes become U+FFFD). The
// driver manager would otherwise convert between the two through the
// process locale's character set, which under the C locale of a scheduled
// run loses every non-ASCII character. Values are read column by column with SQLGetData, long
// ones in chunks; a statement handle lives as long as its cursor, and
// Close() releases the handles of cursors that are still alive.
#include <dlfcn.h>
#include <link.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <set>

#include "common/datetime.h"
#include "common/error.h"
#include "common/text.h"
#include "data/db/backend.h"
#include "data/db/decimal_text.h"
#include "data/db/odbc_connect_text.h"

namespace ostrevane {
namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "unixODBC with 2-byte SQLWCHAR expected");

constexpr int64_t kDays1899To1970 = 25569;

std::u16string Wide(std::string_view utf8) { return Utf8ToUtf16(utf8); }
SQLWCHAR* W(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }
std::string Narrow(const SQLWCHAR* w, size_t n) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(w), n));
}

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The diagnostic records of a handle as one line.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE h, bool wide) {
  std::string out;
  for (SQLSMALLINT rec = 1; rec < 20; ++rec) {
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    std::string m;
    if (wide) {
      SQLWCHAR state[6], msg[1024];
      if (!Ok(SQLGetDiagRecW(type, h, rec, state, &native, msg, SQLSMALLINT(std::size(msg)), &len)))
        break;
      m = Trim(Narrow(msg, size_t(std::clamp<int>(len, 0, int(std::size(msg)) - 1))));
    } else {
      SQLCHAR state[6], msg[2048];
      if (!Ok(SQLGetDiagRec(type, h, rec, state, &native, msg, SQLSMALLINT(std::size(msg)), &len)))
        break;
      m = Trim(SanitizeUtf8(std::string_view(
          reinterpret_cast<char*>(msg), size_t(std::clamp<int>(len, 0, int(std::size(msg)) - 1)))));
    }
    if (m.empty() || out.find(m) != std::string::npos) continue;
    if (!out.empty()) out += ' ';
    out += m;
  }
  for (char& c : out)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return out.empty() ? "ODBC call failed without a diagnostic message" : out;
}

// Owns one ODBC handle.
class Handle {
 public:
  Handle() = default;
  Handle(SQLSMALLINT type, SQLHANDLE h) : type_(type), h_(h) {}
  Handle(Handle&& o) noexcept : type_(o.type_), h_(o.h_) { o.h_ = SQL_NULL_HANDLE; }
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) {
      Reset();
      type_ = o.type_;
      h_ = o.h_;
      o.h_ = SQL_NULL_HANDLE;
    }
    return *this;
  }
  ~Handle() { Reset(); }
  void Reset() {
    if (h_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, h_);
    h_ = SQL_NULL_HANDLE;
  }
  SQLHANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != SQL_NULL_HANDLE; }

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE h_ = SQL_NULL_HANDLE;
};

class OdbcCursor;

// The connection shared by the backend and its cursors.
// Whether the connected driver's library has the Unicode entry points. The
// driver manager has loaded it; it is found among the loaded libraries by
// the file name it reports or the one registered for it (`names`).
bool DriverIsWide(SQLHDBC dbc, std::vector<std::string> names) {
  char name[512] = {};
  SQLSMALLINT len = 0;
  if (Ok(SQLGetInfo(dbc, SQL_DRIVER_NAME, name, sizeof name, &len)) && *name) {
    names.push_back(name);
    names.push_back(std::string("lib") + name);
  }
  for (std::string& n : names) n = n.substr(n.rfind('/') + 1);
  struct Search {
    const std::vector<std::string>* names;
    std::string path;
  } search{&names, {}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* s = static_cast<Search*>(data);
        const std::string path = info->dlpi_name ? info->dlpi_name : "";
        const std::string base = path.substr(path.rfind('/') + 1);
        for (const std::string& n : *s->names)
          if (!base.empty() && base == n) s->path = path;
        return s->path.empty() ? 0 : 1;
      },
      &search);
  void* lib = search.path.empty() ? nullptr : dlopen(search.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (!lib) return true;  // unknown: let the driver manager convert
  // The symbol must come from the driver itself, not from a library it uses.
  bool wide = false;
  link_map* map = nullptr;
  if (void* sym = dlsym(lib, "SQLExecDirectW"); sym && dlinfo(lib, RTLD_DI_LINKMAP, &map) == 0) {
    Dl_info where;
    wide = dladdr(sym, &where) && map && where.dli_fbase == reinterpret_cast<void*>(map->l_addr);
  }
  dlclose(lib);
  return wide;
}

struct Session {
  Handle env, dbc;
  bool connected = false;
  bool wide = false;                 // the driver has the Unicode entry points
  std::vector<std::string> secrets;  // scrubbed from every message
  std::set<OdbcCursor*> cursors;     // alive, holding statement handles

  [[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE h) const { Fail(Diagnostics(type, h, wide)); }
  [[noreturn]] void Fail(std::string message) const {
    for (const std::string& s : secrets)
      if (!s.empty()) message = ReplaceAll(message, s, "***");
    throw Error(kEDatabaseError, MaskPasswords(message));
  }
  SQLHDBC Dbc() const {
    if (!connected) throw Error(kEDatabaseError, "The connection is closed");
    return dbc.get();
  }
};

// How a column is read.
enum class Conv : uint8_t {
  kInt,
  kReal,
  kDouble,
  kCurrency,
  kDecimal,
  kBit,
  kDate,
  kTime,
  kTimestamp,
  kText,
  kMemo,
  kBinary,
  kLongBinary,
  kGuid,
};

struct Column {
  Conv conv;
  ValueKind int_kind = ValueKind::kInt32;
  std::string name;
};

std::pair<FieldDef, Column> DescribeColumn(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s) {
  SQLSMALLINT name_len = 0, type = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  std::string column_name;
  if (s.wide) {
    SQLWCHAR name[512];
    if (!Ok(SQLDescribeColW(stmt, index, name, SQLSMALLINT(std::size(name)), &name_len, &type,
                            &size, &digits, &nullable)))
      s.Fail(SQL_HANDLE_STMT, stmt);
    column_name = Narrow(name, size_t(std::clamp<int>(name_len, 0, int(std::size(name)) - 1)));
  } else {
    SQLCHAR name[1024];
    if (!Ok(SQLDescribeCol(stmt, index, name, SQLSMALLINT(std::size(name)), &name_len, &type, &size,
                           &digits, &nullable)))
      s.Fail(SQL_HANDLE_STMT, stmt);
    column_name = SanitizeUtf8(
        std::string_view(reinterpret_cast<char*>(name),
                         size_t(std::clamp<int>(name_len, 0, int(std::size(name)) - 1))));
  }
  SQLLEN is_unsigned = SQL_FALSE;
  SQLColAttribute(stmt, index, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &is_unsigned);
  FieldDef f{std::move(column_name), s.wide ? FieldType::kWideString : FieldType::kString, 0};
  Column c{Conv::kText, ValueKind::kInt32, f.name};
  const int64_t char_size = int64_t(size);
  switch (type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
      f.type = is_unsigned == SQL_TRUE ? FieldType::kWord : FieldType::kSmallint;
      c = {Conv::kInt, is_unsigned == SQL_TRUE ? ValueKind::kInt32 : ValueKind::kInt16, f.name};
      break;
    case SQL_INTEGER:
      f.type = FieldType::kInteger;
      c = {Conv::kInt, is_unsigned == SQL_TRUE ? ValueKind::kInt64 : ValueKind::kInt32, f.name};
      break;
    case SQL_BIGINT:
      f.type = FieldType::kLargeint;
      c = {Conv::kInt, ValueKind::kInt64, f.name};
      break;
    case SQL_REAL:
      f.type = FieldType::kFloat;
      c.conv = Conv::kReal;
      break;
    case SQL_FLOAT:
    case SQL_DOUBLE:
      f.type = FieldType::kFloat;
      c.conv = Conv::kDouble;
      break;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      if (digits == 0 && size < 10) {
        f.type = FieldType::kInteger;
        c = {Conv::kInt, ValueKind::kInt32, f.name};
      } else if (digits >= 0 && digits <= 4 && size < 20) {
        f.type = FieldType::kBCD;
        c.conv = Conv::kCurrency;
        f.size = digits;
      } else {
        f.type = FieldType::kFMTBcd;
        c.conv = Conv::kDecimal;
        f.size = digits;
      }
      break;
    case SQL_CHAR:
      f.type = FieldType::kFixedChar;
      f.size = char_size;
      break;
    case SQL_VARCHAR:
      f.type = FieldType::kString;
      f.size = char_size;
      break;
    case SQL_LONGVARCHAR:
      f.type = FieldType::kMemo;
      c.conv = Conv::kMemo;
      break;
    case SQL_WCHAR:
      f.type = FieldType::kFixedWideChar;
      f.size = char_size;
      break;
    case SQL_WVARCHAR:
      f.type = FieldType::kWideString;
      f.size = char_size;
      break;
    case SQL_WLONGVARCHAR:
      f.type = FieldType::kWideMemo;
      c.conv = Conv::kMemo;
      break;
    case SQL_BIT:
      f.type = FieldType::kBoolean;
      c.conv = Conv::kBit;
      break;
    case SQL_TYPE_DATE:
    case SQL_DATE:
      f.type = FieldType::kDate;
      c.conv = Conv::kDate;
      break;
    case SQL_TYPE_TIME:
    case SQL_TIME:
      f.type = FieldType::kTime;
      c.conv = Conv::kTime;
      break;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
      f.type = FieldType::kDateTime;
      c.conv = Conv::kTimestamp;
      break;
    case SQL_BINARY:
      f.type = FieldType::kBytes;
      c.conv = Conv::kBinary;
      f.size = char_size;
      break;
    case SQL_VARBINARY:
      f.type = FieldType::kVarBytes;
      c.conv = Conv::kBinary;
      f.size = char_size;
      break;
    case SQL_LONGVARBINARY:
      f.type = FieldType::kBlob;
      c.conv = Conv::kLongBinary;
      break;
    case SQL_GUID:
      f.type = FieldType::kGuid;
      c.conv = Conv::kGuid;
      f.size = 38;
      break;
    default:
      // Intervals and driver-specific types arrive as their text.
      f.size = char_size > 0 && char_size < (1 << 30) ? char_size : 0;
      break;
  }
  return {std::move(f), std::move(c)};
}

DateTime ToDateTime(int64_t y, int64_t m, int64_t d, int64_t micros_of_day) {
  const double days = double(DaysFromCivil(y, unsigned(m), unsigned(d)) + kDays1899To1970);
  const double time = double(micros_of_day) / 86400e6;
  return days >= 0 ? days + time : days - time;
}

// One column of the current row, read with SQLGetData.
class ColumnReader {
 public:
  void Read(SQLHSTMT stmt, SQLUSMALLINT index, const Column& col, const Session& s, Value& v) {
    SQLLEN ind = 0;
    SQLRETURN rc;
    switch (col.conv) {
      case Conv::kInt: {
        SQLBIGINT n = 0;
        rc = SQLGetData(stmt, index, SQL_C_SBIGINT, &n, 0, &ind);
        Check(rc, stmt, s);
        if (ind == SQL_NULL_DATA) return v.SetNull();
        return v.SetInteger(n, col.int_kind);
      }
      case Conv::kReal: {
        SQLREAL f = 0;
        Check(SQLGetData(stmt, index, SQL_C_FLOAT, &f, 0, &ind), stmt, s);
        if (ind == SQL_NULL_DATA) return v.SetNull();
        return v.SetDouble(double(f));
      }
      case Conv::kDouble: {
        SQLDOUBLE f = 0;
        Check(SQLGetData(stmt, index, SQL_C_DOUBLE, &f, 0, &ind), stmt, s);
        if (ind == SQL_NULL_DATA) return v.SetNull();
        return v.SetDouble(f);
      }
      case Conv::kBit: {
        unsigned char b = 0;
        Check(SQLGetData(stmt, index, SQL_C_BIT, &b, 0, &ind), stmt, s);
        if (ind == SQL_NULL_DATA) return v.SetNull();
        return v.SetBoolean(b != 0);
      }
      case Conv::kDate: {
        SQL_DATE_STRUCT d{};
        Check(SQLGetData(stmt, index, SQL_C_TYPE_DATE, &d, sizeof d, &ind), stmt, s);
        if (ind == SQL_NULL_DATA) return v.SetNull();
        return v.SetDateTime(ToDateTime(d.year, d.month, d.day, 0));
      }
      case Conv::kTime: {
        SQL_TIME_STRUCT t{};
        Check(SQLGetData(stmt, index, SQL_C_TYPE_TIME, &t, sizeof t, &ind), stmt, s);
        if (ind == SQL_NULL_DATA) return v.SetNull();
        return v.SetDateTime(ToDateTime(
            1899, 12, 30, ((int64_t(t.hour) * 60 + t.minute) * 60 + t.second) * 1000000));
      }
      case Conv::kTimestamp: {
        SQL_TIMESTAMP_STRUCT t{};
        Check(SQLGetData(stmt, index, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &ind), stmt, s);
        if (ind == SQL_NULL_DATA) return v.SetNull();
        const int64_t micros =
            ((int64_t(t.hour) * 60 + t.minute) * 60 + t.second) * 1000000 + t.fraction / 1000;
        return v.SetDateTime(ToDateTime(t.year, t.month, t.day, micros));
      }
      case Conv::kCurrency:
      case Conv::kDecimal: {
        char buf[128];
        Check(SQLGetData(stmt, index, SQL_C_CHAR, buf, sizeof buf, &ind), stmt, s);
        if (ind == SQL_NULL_DATA) return v.SetNull();
        std::string_view t(buf, std::strlen(buf));
        if (col.conv == Conv::kCurrency) {
          std::optional<int64_t> c = ParseCurrency(t);
          if (!c)
            s.Fail("Column \"" + col.name + "\" holds \"" + std::string(t) +
                   "\", outside the currency range");
          return v.SetCurrency(*c);
        }
        std::optional<std::string> d = NormalizeDecimal(t);
        if (!d)
          s.Fail("Column \"" + col.name + "\" holds \"" + std::string(t) +
                 "\", which is no decimal number");
        return v.SetText(*d, ValueKind::kDecimal);
      }
      case Conv::kText:
      case Conv::kMemo:
      case Conv::kGuid:
        if (!(s.wide ? ReadWide(stmt, index, s) : ReadNarrow(stmt, index, s))) {
          if (col.conv == Conv::kMemo)
            return v.SetText({});  // a null long text arrives as empty text
          return v.SetNull();
        }
        v.SetText(s.wide ? Utf16ToUtf8(wide_) : SanitizeUtf8(narrow_),
                  col.conv == Conv::kGuid ? ValueKind::kGuid : ValueKind::kText);
        if (col.conv == Conv::kGuid) {
          for (char& ch : v.s) ch = ToUpperAscii(ch);
          if (v.s.size() == 38 && v.s.front() == '{' && v.s.back() == '}') v.s = v.s.substr(1, 36);
        }
        return;
      case Conv::kBinary:
      case Conv::kLongBinary:
        if (!ReadBinary(stmt, index, s, v.s)) return v.SetNull();
        v.kind = ValueKind::kBytes;
        if (col.conv == Conv::kLongBinary && v.s.empty()) v.SetNull();  // empty arrives as null
        return;
    }
  }

 private:
  static void Check(SQLRETURN rc, SQLHSTMT stmt, const Session& s) {
    if (!Ok(rc)) s.Fail(SQL_HANDLE_STMT, stmt);
  }

  // Reads a text value in chunks into wide_; false for null.
  bool ReadWide(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s) {
    wide_.clear();
    constexpr size_t kChars = 4096;
    SQLWCHAR buf[kChars];
    for (;;) {
      SQLLEN ind = 0;
      SQLRETURN rc = SQLGetData(stmt, index, SQL_C_WCHAR, buf, sizeof buf, &ind);
      if (rc == SQL_NO_DATA) return true;
      Check(rc, stmt, s);
      if (ind == SQL_NULL_DATA) return false;
      const bool more =
          rc == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || size_t(ind) >= sizeof buf);
      const size_t chars = more ? kChars - 1 : size_t(ind) / sizeof(SQLWCHAR);
      wide_.append(reinterpret_cast<const char16_t*>(buf), chars);
      if (!more) return true;
    }
  }

  // Reads a text value in chunks into narrow_; false for null.
  bool ReadNarrow(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s) {
    narrow_.clear();
    char buf[16384];
    for (;;) {
      SQLLEN ind = 0;
      SQLRETURN rc = SQLGetData(stmt, index, SQL_C_CHAR, buf, sizeof buf, &ind);
      if (rc == SQL_NO_DATA) return true;
      Check(rc, stmt, s);
      if (ind == SQL_NULL_DATA) return false;
      const bool more =
          rc == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || size_t(ind) >= sizeof buf);
      narrow_.append(buf, more ? sizeof buf - 1 : size_t(ind));
      if (!more) return true;
    }
  }

  static bool ReadBinary(SQLHSTMT stmt, SQLUSMALLINT index, const Session& s, std::string& out) {
    out.clear();
    char buf[16384];
    for (;;) {
      SQLLEN ind = 0;
      SQLRETURN rc = SQLGetData(stmt, index, SQL_C_BINARY, buf, sizeof buf, &ind);
      if (rc == SQL_NO_DATA) return true;
      Check(rc, stmt, s);
      if (ind == SQL_NULL_DATA) return false;
      const bool more =
          rc == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || size_t(ind) > sizeof buf);
      out.append(buf, more ? sizeof buf : size_t(ind));
      if (!more) return true;
    }
  }

  std::u16string wide_;
  std::string narrow_;
};

// Runs the statement's remaining results (later statements of a script)
// and raises the first failure among them.
void FinishResults(SQLHSTMT stmt, const Session& s) {
  for (;;) {
    SQLRETURN rc = SQLMoreResults(stmt);
    if (rc == SQL_NO_DATA) return;
    if (!Ok(rc)) s.Fail(SQL_HANDLE_STMT, stmt);
  }
}

// Storage of one bound parameter; lives until the statement is done.
struct BoundBuffer {
  std::u16string wide;
  std::string bytes;  // binary data, or UTF-8 text for an ANSI driver
  SQLBIGINT integer = 0;
  SQLDOUBLE real = 0;
  unsigned char bit = 0;
  SQL_TIMESTAMP_STRUCT ts{};
  SQL_DATE_STRUCT date{};
  SQL_TIME_STRUCT time{};
  SQLLEN ind = 0;
};

class OdbcCursor : public Cursor {
 public:
  OdbcCursor(std::shared_ptr<Session> session, Handle stmt, std::vector<BoundBuffer> buffers)
      : session_(std::move(session)), stmt_(std::move(stmt)), buffers_(std::move(buffers)) {
    session_->cursors.insert(this);
    try {
      FindResultSet();
    } catch (...) {
      Release();  // no destructor runs for a cursor that failed to construct
      throw;
    }
  }

  ~OdbcCursor() override { Release(); }

  const std::vector<FieldDef>& fields() const override { return fields_; }

  bool Fetch(std::vector<Value>& row) override {
    if (!stmt_) {
      if (!session_->connected && !fields_.empty() && !done_)
        throw Error(kEDatabaseError, "The connection is closed");
      return false;
    }
    SQLRETURN rc = SQLFetch(stmt_.get());
    if (rc == SQL_NO_DATA) {
      done_ = true;
      try {
        FinishResults(stmt_.get(), *session_);
      } catch (...) {
        Release();
        throw;
      }
      Release();
      return false;
    }
    if (!Ok(rc)) {
      done_ = true;
      try {
        session_->Fail(SQL_HANDLE_STMT, stmt_.get());
      } catch (...) {
        Release();
        throw;
      }
    }
    row.resize(columns_.size());
    for (size_t c = 0; c < columns_.size(); ++c)
      reader_.Read(stmt_.get(), SQLUSMALLINT(c + 1), columns_[c], *session_, row[c]);
    return true;
  }

  // Moves to the first result that has columns and describes them; without
  // one, the statement is done and its handle released.
  void FindResultSet() {
    for (;;) {
      SQLSMALLINT n = 0;
      if (!Ok(SQLNumResultCols(stmt_.get(), &n))) session_->Fail(SQL_HANDLE_STMT, stmt_.get());
      if (n > 0) {
        for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(n); ++c) {
          auto [def, col] = DescribeColumn(stmt_.get(), c, *session_);
          fields_.push_back(std::move(def));
          columns_.push_back(std::move(col));
        }
        return;
      }
      SQLRETURN rc = SQLMoreResults(stmt_.get());
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) session_->Fail(SQL_HANDLE_STMT, stmt_.get());
    }
    Release();
  }

  // Frees the statement handle; before SQLDisconnect, which would free it too.
  void Release() {
    if (!stmt_) return;
    SQLFreeStmt(stmt_.get(), SQL_CLOSE);
    stmt_.Reset();
    session_->cursors.erase(this);
  }

 private:
  std::shared_ptr<Session> session_;
  Handle stmt_;
  std::vector<FieldDef> fields_;
  std::vector<Column> columns_;
  std::vector<BoundBuffer> buffers_;  // bound parameters, read by later statements of a script
  ColumnReader reader_;
  bool done_ = false;
};

// Names that identify the driver a connection will use: the Driver key, or
// the DSN's driver, and the library file registered for it.
std::vector<std::string> DriverNames(SQLHENV env, const std::string& driver,
                                     const std::string& dsn) {
  std::vector<std::string> names;
  std::string name = driver;
  if (name.size() >= 2 && name.front() == '{' && name.back() == '}')
    name = name.substr(1, name.size() - 2);
  if (name.empty() && !dsn.empty()) {
    SQLWCHAR server[256], description[512];
    SQLSMALLINT server_len, desc_len;
    SQLUSMALLINT dir = SQL_FETCH_FIRST;
    while (Ok(SQLDataSourcesW(env, dir, server, SQLSMALLINT(std::size(server)), &server_len,
                              description, SQLSMALLINT(std::size(description)), &desc_len))) {
      dir = SQL_FETCH_NEXT;
      if (IEquals(Narrow(server, size_t(server_len)), dsn))
        name = Narrow(description, size_t(desc_len));
    }
  }
  if (name.empty()) return names;
  names.push_back(name);
  SQLWCHAR desc[512], attrs[2048];
  SQLSMALLINT desc_len, attrs_len;
  SQLUSMALLINT dir = SQL_FETCH_FIRST;
  while (Ok(SQLDriversW(env, dir, desc, SQLSMALLINT(std::size(desc)), &desc_len, attrs,
                        SQLSMALLINT(std::size(attrs)), &attrs_len))) {
    dir = SQL_FETCH_NEXT;
    if (!IEquals(Narrow(desc, size_t(desc_len)), name)) continue;
    // Attributes are "key=value" texts, each ended by a NUL.
    const std::string a = Narrow(attrs, size_t(std::min<int>(attrs_len, int(std::size(attrs)))));
    size_t pos = 0;
    while (pos < a.size()) {
      size_t end = a.find('\0', pos);
      if (end == std::string::npos) end = a.size();
      const std::string item = a.substr(pos, end - pos);
      if (IStartsWith(item, "Driver=")) names.push_back(item.substr(7));
      pos = end + 1;
    }
  }
  return names;
}

SQLSMALLINT SqlTypeOf(FieldType t) {
  switch (t) {
    case FieldType::kSmallint:
    case FieldType::kShortint:
    case FieldType::kByte:
      return SQL_SMALLINT;
    case FieldType::kInteger:
    case FieldType::kAutoInc:
    case FieldType::kWord:
      return SQL_INTEGER;
    case FieldType::kLargeint:
    case FieldType::kLongWord:
      return SQL_BIGINT;
    case FieldType::kFloat:
    case FieldType::kExtended:
    case FieldType::kSingle:
      return SQL_DOUBLE;
    case FieldType::kCurrency:
    case FieldType::kBCD:
    case FieldType::kFMTBcd:
      return SQL_DECIMAL;
    case FieldType::kBoolean:
      return SQL_BIT;
    case FieldType::kDate:
      return SQL_TYPE_DATE;
    case FieldType::kTime:
      return SQL_TYPE_TIME;
    case FieldType::kDateTime:
    case FieldType::kTimeStamp:
      return SQL_TYPE_TIMESTAMP;
    case FieldType::kFixedChar:
      return SQL_CHAR;
    case FieldType::kString:
      return SQL_VARCHAR;
    case FieldType::kMemo:
      return SQL_LONGVARCHAR;
    case FieldType::kFixedWideChar:
      return SQL_WCHAR;
    case FieldType::kWideString:
      return SQL_WVARCHAR;
    case FieldType::kWideMemo:
      return SQL_WLONGVARCHAR;
    case FieldType::kGuid:
      return SQL_GUID;
    case FieldType::kBytes:
      return SQL_BINARY;
    case FieldType::kVarBytes:
      return SQL_VARBINARY;
    case FieldType::kBlob:
      return SQL_LONGVARBINARY;
    default:
      return 0;
  }
}

std::string CurrencyText(int64_t v) {
  const uint64_t mag = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
  std::string frac = std::to_string(mag % 10000);
  return (v < 0 ? "-" : "") + std::to_string(mag / 10000) + "." +
         std::string(4 - frac.size(), '0') + frac;
}

void BindParam(SQLHSTMT stmt, SQLUSMALLINT n, const BoundParam& p, BoundBuffer& b,
               const Session& s) {
  const SQLSMALLINT typed = SqlTypeOf(p.type);
  SQLSMALLINT ctype = SQL_C_WCHAR;
  SQLSMALLINT sqltype = typed ? typed : SQLSMALLINT(s.wide ? SQL_WVARCHAR : SQL_VARCHAR);
  SQLULEN size = 1;
  SQLSMALLINT digits = 0;
  SQLPOINTER data = nullptr;
  SQLLEN len = 0;
  const Value* v = p.value;
  if (!v || v->IsNull()) {
    b.ind = SQL_NULL_DATA;
    if (!typed) sqltype = SQL_VARCHAR;
    ctype = SQL_C_CHAR;
  } else {
    switch (v->kind) {
      case ValueKind::kInt16:
      case ValueKind::kInt32:
      case ValueKind::kInt64:
        b.integer = v->i;
        ctype = SQL_C_SBIGINT, data = &b.integer, b.ind = sizeof b.integer;
        if (!typed) sqltype = SQL_BIGINT;
        size = 19;
        break;
      case ValueKind::kSingle:
      case ValueKind::kDouble:
        b.real = v->d;
        ctype = SQL_C_DOUBLE, data = &b.real, b.ind = sizeof b.real;
        if (!typed) sqltype = SQL_DOUBLE;
        size = 15;
        break;
      case ValueKind::kBoolean:
        b.bit = v->i ? 1 : 0;
        ctype = SQL_C_BIT, data = &b.bit, b.ind = 1;
        if (!typed) sqltype = SQL_BIT;
        break;
      case ValueKind::kDateTime: {
        const DateTimeParts t = DecodeDateTime(v->d);
        if (typed == SQL_TYPE_DATE) {
          b.date = {SQLSMALLINT(t.year), SQLUSMALLINT(t.month), SQLUSMALLINT(t.day)};
          ctype = SQL_C_TYPE_DATE, data = &b.date, b.ind = sizeof b.date, size = 10;
        } else if (typed == SQL_TYPE_TIME) {
          b.time = {SQLUSMALLINT(t.hour), SQLUSMALLINT(t.minute), SQLUSMALLINT(t.second)};
          ctype = SQL_C_TYPE_TIME, data = &b.time, b.ind = sizeof b.time, size = 8;
        } else {
          b.ts = {SQLSMALLINT(t.year),
                  SQLUSMALLINT(t.month),
                  SQLUSMALLINT(t.day),
                  SQLUSMALLINT(t.hour),
                  SQLUSMALLINT(t.minute),
                  SQLUSMALLINT(t.second),
                  SQLUINTEGER(t.millisecond) * 1000000};
          ctype = SQL_C_TYPE_TIMESTAMP, data = &b.ts, b.ind = sizeof b.ts;
          sqltype = SQL_TYPE_TIMESTAMP, size = 23, digits = 3;
        }
        break;
      }
      case ValueKind::kBytes:
        b.bytes = v->s;
        ctype = SQL_C_BINARY, data = b.bytes.data(), b.ind = SQLLEN(b.bytes.size());
        if (!typed) sqltype = b.bytes.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
        size = std::max<size_t>(1, b.bytes.size());
        len = b.ind;
        break;
      default: {
        const std::string& text = v->kind == ValueKind::kCurrency ? CurrencyText(v->i) : v->s;
        if (s.wide) {
          b.wide = Wide(text);
          data = W(b.wide), b.ind = SQLLEN(b.wide.size() * sizeof(char16_t));
          size = std::max<size_t>(1, b.wide.size());
        } else {
          b.bytes = text;
          ctype = SQL_C_CHAR, data = b.bytes.data(), b.ind = SQLLEN(b.bytes.size());
          size = std::max<size_t>(1, b.bytes.size());
        }
        len = b.ind;
        if (!typed && size > 4000) sqltype = s.wide ? SQL_WLONGVARCHAR : SQL_LONGVARCHAR;
        if (sqltype == SQL_DECIMAL) size = 38, digits = 4;
        break;
      }
    }
  }
  if (!Ok(SQLBindParameter(stmt, n, SQL_PARAM_INPUT, ctype, sqltype, size, digits, data, len,
                           &b.ind)))
    s.Fail(SQL_HANDLE_STMT, stmt);
}

class OdbcBackend : public Backend {
 public:
  ~OdbcBackend() override {
    try {
      Close();
    } catch (...) {
    }
  }

  void Open(const ConnectionString& cs, int connect_timeout) override {
    Close();
    auto s = std::make_shared<Session>();
    SQLHANDLE h;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h)))
      throw Error(kEDatabaseError, "The ODBC driver manager cannot be initialised");
    s->env = Handle(SQL_HANDLE_ENV, h);
    SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, s->env.get(), &h)))
      s->Fail(SQL_HANDLE_ENV, s->env.get());
    s->dbc = Handle(SQL_HANDLE_DBC, h);
    SQLSetConnectAttr(
        h, SQL_ATTR_LOGIN_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(intptr_t(connect_timeout < 0 ? 0 : connect_timeout)), 0);

    const std::vector<std::string> drivers =
        DriverNames(s->env.get(), cs.Get("Driver"), cs.Get("Data Source"));
    OdbcConnectText text = MakeOdbcConnectText(cs, drivers);
    s->secrets = std::move(text.secrets);
    // The narrow call passes the UTF-8 text unchanged to an ANSI driver.
    SQLCHAR out[1024];
    SQLSMALLINT out_len = 0;
    SQLRETURN rc =
        SQLDriverConnect(s->dbc.get(), nullptr, reinterpret_cast<SQLCHAR*>(text.text.data()),
                         SQLSMALLINT(text.text.size()), out, SQLSMALLINT(std::size(out)), &out_len,
                         SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) s->Fail(SQL_HANDLE_DBC, s->dbc.get());
    s->connected = true;
    s->wide = DriverIsWide(s->dbc.get(), drivers);
    session_ = std::move(s);
  }

  void Close() override {
    if (!session_) return;
    std::shared_ptr<Session> s = std::move(session_);
    while (!s->cursors.empty()) (*s->cursors.begin())->Release();
    if (s->connected) SQLDisconnect(s->dbc.get());
    s->connected = false;
  }

  void Begin() override {
    if (!Ok(SQLSetConnectAttr(Dbc(), SQL_ATTR_AUTOCOMMIT,
                              reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)))
      session_->Fail(SQL_HANDLE_DBC, Dbc());
  }

  void Commit() override { End(SQL_COMMIT); }

  void Rollback() override {
    if (!session_ || !session_->connected) return;
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (Ok(SQLGetConnectAttr(Dbc(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
        dead == SQL_CD_TRUE)
      return;  // the server dropped the transaction with the connection
    End(SQL_ROLLBACK);
  }

  std::string Placeholder(size_t) const override { return "?"; }

  std::unique_ptr<Cursor> Run(const std::string& sql, const std::vector<BoundParam>& params,
                              int command_timeout, bool want_rows) override {
    SQLHANDLE h;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, Dbc(), &h))) session_->Fail(SQL_HANDLE_DBC, Dbc());
    Handle stmt(SQL_HANDLE_STMT, h);
    SQLSetStmtAttr(
        h, SQL_ATTR_QUERY_TIMEOUT,
        reinterpret_cast<SQLPOINTER>(intptr_t(command_timeout < 0 ? 0 : command_timeout)), 0);
    std::vector<BoundBuffer> buffers(params.size());
    for (size_t k = 0; k < params.size(); ++k)
      BindParam(h, SQLUSMALLINT(k + 1), params[k], buffers[k], *session_);
    SQLRETURN rc;
    if (session_->wide) {
      std::u16string text = Wide(sql);
      rc = SQLExecDirectW(h, W(text), SQLINTEGER(text.size()));
    } else {
      std::string text = sql;
      rc = SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(text.data()), SQLINTEGER(text.size()));
    }
    if (!Ok(rc) && rc != SQL_NO_DATA) session_->Fail(SQL_HANDLE_STMT, h);
    if (!want_rows) {
      FinishResults(h, *session_);
      return std::make_unique<EmptyCursor>();
    }
    return std::make_unique<OdbcCursor>(session_, std::move(stmt), std::move(buffers));
  }

 private:
  SQLHDBC Dbc() const {
    if (!session_) throw Error(kEDatabaseError, "The connection is closed");
    return session_->Dbc();
  }

  void End(SQLSMALLINT how) {
    SQLHDBC dbc = Dbc();
    SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc, how);
    SQLSetConnectAttr(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
    if (!Ok(rc)) session_->Fail(SQL_HANDLE_DBC, dbc);
  }

  std::shared_ptr<Session> session_;
};

}  // namespace

std::unique_ptr<Backend> MakeOdbcBackend() { return std::make_unique<OdbcBackend>(); }

}  // namespace ostrevane
