// The PostgreSQL backend on libpq.
//
// Rows are streamed in single-row mode, so a forward-only export holds one
// row at a time. The command time-out bounds the wait for a statement to
// execute and start delivering (or, without rows, to finish); reading a
// long result at the writers' pace is never cut off by it. When it expires
// the statement is canceled through libpq's cancel request.
//
// Session formats are fixed after connecting (ISO dates, UTF-8, shortest
// exact floats, hex bytea) and restored before a statement when a script
// changed the ones the server reports.
#include <libpq-fe.h>
#include <poll.h>
#include <time.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>

#include "common/datetime.h"
#include "common/error.h"
#include "common/text.h"
#include "data/db/backend.h"
#include "data/db/decimal_text.h"
#include "data/db/pg_statements.h"

namespace ostrevane {
namespace {

// Type OIDs of the built-in types (pg_type.dat).
enum : Oid {
  kBoolOid = 16,
  kByteaOid = 17,
  kInt8Oid = 20,
  kInt2Oid = 21,
  kInt4Oid = 23,
  kTextOid = 25,
  kFloat4Oid = 700,
  kFloat8Oid = 701,
  kBpcharOid = 1042,
  kVarcharOid = 1043,
  kDateOid = 1082,
  kTimeOid = 1083,
  kTimestampOid = 1114,
  kTimestampTzOid = 1184,
  kNumericOid = 1700,
  kUuidOid = 2950,
};

constexpr int64_t kDays1899To1970 = 25569;

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using PgResult = std::unique_ptr<PGresult, ResultDeleter>;

// Collapses a multi-line libpq message into one line.
std::string OneLine(std::string_view text) {
  std::string out;
  bool space = false;
  for (char c : text) {
    if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    out += c;
  }
  return SanitizeUtf8(out);
}

// How a column's text becomes a Value.
enum class Conv : uint8_t {
  kInt16,
  kInt32,
  kInt64,
  kFloat4,
  kFloat8,
  kNumericInt,
  kCurrency,
  kDecimal,
  kBool,
  kDate,
  kTime,
  kTimestamp,
  kTimestampTz,
  kText,
  kMemo,
  kBytes,
  kGuid,
};

struct Column {
  Conv conv;
  std::string name;
};

[[noreturn]] void ConversionError(const Column& col, std::string_view text, const char* what) {
  throw Error(kEDatabaseError, "Column \"" + col.name + "\" holds " + std::string(what) + " \"" +
                                   OneLine(text) + "\"; cast it to text in the SQL");
}

bool ParseInt(std::string_view t, int64_t& v) {
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  return ec == std::errc() && p == t.data() + t.size();
}

bool ParseDouble(std::string_view t, double& v) {
  if (t == "Infinity") {
    v = HUGE_VAL;
    return true;
  }
  if (t == "-Infinity") {
    v = -HUGE_VAL;
    return true;
  }
  if (t == "NaN") {
    v = std::nan("");
    return true;
  }
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  return ec == std::errc() && p == t.data() + t.size();
}

// Reads `n` digits at t[i]; false when there are fewer.
bool Digits(std::string_view t, size_t& i, size_t n, int64_t& v) {
  v = 0;
  for (size_t k = 0; k < n; ++k, ++i) {
    if (i >= t.size() || t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
  }
  return true;
}

// "YYYY-MM-DD" (4 or more year digits) at the start of t.
bool ParseIsoDate(std::string_view t, size_t& i, int64_t& y, int64_t& m, int64_t& d) {
  i = 0;
  size_t dash = t.find('-');
  if (dash == std::string_view::npos || dash < 4) return false;
  if (!Digits(t, i, dash, y)) return false;
  ++i;
  if (!Digits(t, i, 2, m) || i >= t.size() || t[i] != '-') return false;
  ++i;
  return Digits(t, i, 2, d) && m >= 1 && m <= 12 && d >= 1 && d <= 31;
}

// "HH:MM:SS[.ffffff]" at t[i]; microseconds of the day.
bool ParseIsoTime(std::string_view t, size_t& i, int64_t& micros) {
  int64_t h, n, s;
  if (!Digits(t, i, 2, h) || i >= t.size() || t[i++] != ':') return false;
  if (!Digits(t, i, 2, n) || i >= t.size() || t[i++] != ':') return false;
  if (!Digits(t, i, 2, s)) return false;
  int64_t frac = 0;
  if (i < t.size() && t[i] == '.') {
    ++i;
    int64_t scale = 100000;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
      frac += (t[i] - '0') * scale;
      scale /= 10;
      ++i;
    }
  }
  micros = ((h * 60 + n) * 60 + s) * 1000000 + frac;
  return true;
}

// Days since 1899-12-30 plus the time of day, on the convention of the
// program's date-times (negative days: the time is subtracted).
DateTime ToDateTime(int64_t days_since_1970, int64_t micros_of_day) {
  const double days = double(days_since_1970 + kDays1899To1970);
  const double time = double(micros_of_day) / 86400e6;
  return days >= 0 ? days + time : days - time;
}

bool EndsWithBc(std::string_view& t) {
  if (t.size() > 3 && t.substr(t.size() - 3) == " BC") {
    t.remove_suffix(3);
    return true;
  }
  return false;
}

// timestamptz text in the session's zone ("...+05:30") to local time.
bool ParseTimestampTz(std::string_view t, DateTime& out) {
  const bool bc = EndsWithBc(t);
  size_t i;
  int64_t y, m, d, micros;
  if (!ParseIsoDate(t, i, y, m, d)) return false;
  if (bc) y = 1 - y;
  if (i >= t.size() || t[i++] != ' ' || !ParseIsoTime(t, i, micros)) return false;
  if (i >= t.size() || (t[i] != '+' && t[i] != '-')) return false;
  const int sign = t[i++] == '-' ? -1 : 1;
  int64_t oh, om = 0, os = 0;
  if (!Digits(t, i, 2, oh)) return false;
  if (i < t.size() && t[i] == ':' && (++i, !Digits(t, i, 2, om))) return false;
  if (i < t.size() && t[i] == ':' && (++i, !Digits(t, i, 2, os))) return false;
  if (i != t.size()) return false;
  const int64_t utc_micros = (DaysFromCivil(y, unsigned(m), unsigned(d)) * 86400) * 1000000 +
                             micros - sign * ((oh * 60 + om) * 60 + os) * 1000000;
  int64_t secs = utc_micros / 1000000, us = utc_micros % 1000000;
  if (us < 0) {
    us += 1000000;
    --secs;
  }
  time_t tt = time_t(secs);
  struct tm lt;
  if (!localtime_r(&tt, &lt)) return false;
  const int64_t local_days =
      DaysFromCivil(int64_t(lt.tm_year) + 1900, unsigned(lt.tm_mon + 1), unsigned(lt.tm_mday));
  out = ToDateTime(local_days,
                   ((int64_t(lt.tm_hour) * 60 + lt.tm_min) * 60 + lt.tm_sec) * 1000000 + us);
  return true;
}

int HexNibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void DecodeBytea(std::string_view t, std::string& out) {
  out.clear();
  if (t.size() >= 2 && t[0] == '\\' && t[1] == 'x') {
    out.reserve((t.size() - 2) / 2);
    for (size_t i = 2; i + 1 < t.size(); i += 2)
      out += char(HexNibble(t[i]) << 4 | HexNibble(t[i + 1]));
    return;
  }
  // The old escape format, in case a script changed bytea_output.
  size_t n = 0;
  std::string copy(t);
  unsigned char* raw = PQunescapeBytea(reinterpret_cast<const unsigned char*>(copy.c_str()), &n);
  if (!raw) throw Error(kEDatabaseError, "Out of memory decoding a bytea value");
  out.assign(reinterpret_cast<char*>(raw), n);
  PQfreemem(raw);
}

// Fills `v` from one column's text. `sanitize`: the database is SQL_ASCII
// and text may hold bytes that are no UTF-8.
void Convert(const Column& col, const char* data, int len, bool is_null, bool sanitize, Value& v) {
  if (is_null) {
    if (col.conv == Conv::kMemo)
      v.SetText({});
    else
      v.SetNull();
    return;
  }
  std::string_view t(data, size_t(len));
  int64_t n;
  double f;
  switch (col.conv) {
    case Conv::kInt16:
    case Conv::kInt32:
    case Conv::kInt64:
    case Conv::kNumericInt:
      if (!ParseInt(t, n)) ConversionError(col, t, "the number");
      v.SetInteger(n, col.conv == Conv::kInt16   ? ValueKind::kInt16
                      : col.conv == Conv::kInt64 ? ValueKind::kInt64
                                                 : ValueKind::kInt32);
      return;
    case Conv::kFloat4:
      if (!ParseDouble(t, f)) ConversionError(col, t, "the number");
      v.SetDouble(double(float(f)));
      return;
    case Conv::kFloat8:
      if (!ParseDouble(t, f)) ConversionError(col, t, "the number");
      v.SetDouble(f);
      return;
    case Conv::kCurrency: {
      std::optional<int64_t> c = ParseCurrency(t);
      if (!c) ConversionError(col, t, "a value outside the currency range:");
      v.SetCurrency(*c);
      return;
    }
    case Conv::kDecimal: {
      std::optional<std::string> d = NormalizeDecimal(t);
      if (!d) ConversionError(col, t, "the value");
      v.SetText(*d, ValueKind::kDecimal);
      return;
    }
    case Conv::kBool:
      v.SetBoolean(t == "t");
      return;
    case Conv::kDate: {
      const bool bc = EndsWithBc(t);
      size_t i;
      int64_t y, m, d;
      if (!ParseIsoDate(t, i, y, m, d) || i != t.size()) ConversionError(col, t, "the date");
      v.SetDateTime(ToDateTime(DaysFromCivil(bc ? 1 - y : y, unsigned(m), unsigned(d)), 0));
      return;
    }
    case Conv::kTime: {
      size_t i = 0;
      int64_t micros;
      if (!ParseIsoTime(t, i, micros) || i != t.size()) ConversionError(col, t, "the time");
      v.SetDateTime(ToDateTime(-kDays1899To1970, micros));
      return;
    }
    case Conv::kTimestamp: {
      const bool bc = EndsWithBc(t);
      size_t i;
      int64_t y, m, d, micros;
      if (!ParseIsoDate(t, i, y, m, d) || i >= t.size() || t[i++] != ' ' ||
          !ParseIsoTime(t, i, micros) || i != t.size())
        ConversionError(col, t, "the date-time");
      v.SetDateTime(ToDateTime(DaysFromCivil(bc ? 1 - y : y, unsigned(m), unsigned(d)), micros));
      return;
    }
    case Conv::kTimestampTz: {
      DateTime dt;
      if (!ParseTimestampTz(t, dt)) ConversionError(col, t, "the date-time");
      v.SetDateTime(dt);
      return;
    }
    case Conv::kText:
    case Conv::kMemo:
      if (sanitize && !IsValidUtf8(t))
        v.SetText(SanitizeUtf8(t));
      else
        v.SetText(t);
      return;
    case Conv::kBytes:
      v.kind = ValueKind::kBytes;
      DecodeBytea(t, v.s);
      if (v.s.empty()) v.SetNull();  // a long binary value: empty arrives as null
      return;
    case Conv::kGuid:
      v.SetText(t, ValueKind::kGuid);
      for (char& c : v.s) c = ToUpperAscii(c);
      return;
  }
}

// Field type, size and conversion of a result column.
std::pair<FieldDef, Conv> DescribeColumn(Oid type, int mod, std::string name) {
  FieldDef f{std::move(name), FieldType::kString, 0};
  Conv conv = Conv::kText;
  switch (type) {
    case kInt2Oid:
      f.type = FieldType::kSmallint;
      conv = Conv::kInt16;
      break;
    case kInt4Oid:
      f.type = FieldType::kInteger;
      conv = Conv::kInt32;
      break;
    case kInt8Oid:
      f.type = FieldType::kLargeint;
      conv = Conv::kInt64;
      break;
    case kFloat4Oid:
      f.type = FieldType::kFloat;
      conv = Conv::kFloat4;
      break;
    case kFloat8Oid:
      f.type = FieldType::kFloat;
      conv = Conv::kFloat8;
      break;
    case kNumericOid: {
      // typmod = ((precision << 16) | scale) + 4; -1 when unconstrained.
      const int precision = mod >= 4 ? ((mod - 4) >> 16) & 0xffff : 0;
      int scale = mod >= 4 ? (mod - 4) & 0x7ff : 0;
      if (scale & 0x400) scale -= 0x800;  // negative scales (numeric(5,-2))
      if (mod < 4 || scale < 0) {
        f.type = FieldType::kFMTBcd;
        conv = Conv::kDecimal;
        f.size = mod < 4 ? 0 : scale;
      } else if (scale == 0 && precision < 10) {
        f.type = FieldType::kInteger;
        conv = Conv::kNumericInt;
      } else if (scale <= 4 && precision < 20) {
        f.type = FieldType::kBCD;
        conv = Conv::kCurrency;
        f.size = scale;
      } else {
        f.type = FieldType::kFMTBcd;
        conv = Conv::kDecimal;
        f.size = scale;
      }
      break;
    }
    case kBoolOid:
      f.type = FieldType::kBoolean;
      conv = Conv::kBool;
      break;
    case kDateOid:
      f.type = FieldType::kDate;
      conv = Conv::kDate;
      break;
    case kTimeOid:
      f.type = FieldType::kTime;
      conv = Conv::kTime;
      break;
    case kTimestampOid:
      f.type = FieldType::kDateTime;
      conv = Conv::kTimestamp;
      break;
    case kTimestampTzOid:
      f.type = FieldType::kDateTime;
      conv = Conv::kTimestampTz;
      break;
    case kBpcharOid:
      f.type = FieldType::kFixedChar;
      f.size = mod >= 4 ? mod - 4 : 0;
      break;
    case kVarcharOid:
      f.type = FieldType::kString;
      f.size = mod >= 4 ? mod - 4 : 0;
      break;
    case kTextOid:
      f.type = FieldType::kMemo;
      conv = Conv::kMemo;
      break;
    case kByteaOid:
      f.type = FieldType::kBlob;
      conv = Conv::kBytes;
      break;
    case kUuidOid:
      f.type = FieldType::kGuid;
      conv = Conv::kGuid;
      f.size = 38;
      break;
    default:
      break;  // every other type arrives as its text
  }
  return {std::move(f), conv};
}

// The OID a typed parameter is sent with; 0 lets the server infer it.
Oid ParamOid(FieldType t) {
  switch (t) {
    case FieldType::kSmallint:
    case FieldType::kShortint:
    case FieldType::kByte:
      return kInt2Oid;
    case FieldType::kInteger:
    case FieldType::kAutoInc:
    case FieldType::kWord:
      return kInt4Oid;
    case FieldType::kLargeint:
    case FieldType::kLongWord:
      return kInt8Oid;
    case FieldType::kFloat:
    case FieldType::kExtended:
      return kFloat8Oid;
    case FieldType::kSingle:
      return kFloat4Oid;
    case FieldType::kCurrency:
    case FieldType::kBCD:
    case FieldType::kFMTBcd:
      return kNumericOid;
    case FieldType::kBoolean:
      return kBoolOid;
    case FieldType::kDate:
      return kDateOid;
    case FieldType::kTime:
      return kTimeOid;
    case FieldType::kDateTime:
    case FieldType::kTimeStamp:
      return kTimestampOid;
    case FieldType::kGuid:
      return kUuidOid;
    case FieldType::kBytes:
    case FieldType::kVarBytes:
    case FieldType::kBlob:
      return kByteaOid;
    default:
      return 0;
  }
}

void AppendPadded(std::string& out, int64_t v, int width) {
  std::string d = std::to_string(v < 0 ? -v : v);
  if (v < 0) out += '-';
  if (int(d.size()) < width) out.append(size_t(width) - d.size(), '0');
  out += d;
}

// The text a value is sent as; `oid` is the parameter's type (0: unknown).
std::string ParamText(const Value& v, Oid oid) {
  char buf[64];
  switch (v.kind) {
    case ValueKind::kInt16:
    case ValueKind::kInt32:
    case ValueKind::kInt64: {
      auto r = std::to_chars(buf, buf + sizeof buf, v.i);
      return std::string(buf, r.ptr);
    }
    case ValueKind::kSingle:
    case ValueKind::kDouble: {
      if (std::isnan(v.d)) return "NaN";
      if (std::isinf(v.d)) return v.d > 0 ? "Infinity" : "-Infinity";
      auto r = v.kind == ValueKind::kSingle ? std::to_chars(buf, buf + sizeof buf, float(v.d))
                                            : std::to_chars(buf, buf + sizeof buf, v.d);
      return std::string(buf, r.ptr);
    }
    case ValueKind::kCurrency: {
      const uint64_t mag = v.i < 0 ? uint64_t(0) - uint64_t(v.i) : uint64_t(v.i);
      std::string s = v.i < 0 ? "-" : "";
      s += std::to_string(mag / 10000);
      std::string frac = std::to_string(mag % 10000);
      s += '.' + std::string(4 - frac.size(), '0') + frac;
      return s;
    }
    case ValueKind::kDateTime: {
      const DateTimeParts p = DecodeDateTime(v.d);
      std::string s;
      if (oid != kTimeOid) {
        AppendPadded(s, p.year < 1 ? 1 - p.year : p.year, 4);
        s += '-';
        AppendPadded(s, p.month, 2);
        s += '-';
        AppendPadded(s, p.day, 2);
      }
      if (oid != kDateOid) {
        if (!s.empty()) s += ' ';
        AppendPadded(s, p.hour, 2);
        s += ':';
        AppendPadded(s, p.minute, 2);
        s += ':';
        AppendPadded(s, p.second, 2);
        s += '.';
        AppendPadded(s, p.millisecond, 3);
      }
      if (oid != kTimeOid && p.year < 1) s += " BC";
      return s;
    }
    case ValueKind::kBoolean:
      return v.i ? "true" : "false";
    default:
      return v.s;
  }
}

using Clock = std::chrono::steady_clock;

// The connection shared by the backend and its cursors: a cursor may
// outlive Close(), after which it only reports that the connection is gone.
struct Session {
  PGconn* conn = nullptr;
  std::string password;  // scrubbed from every message
  bool sql_ascii = false;
  class PgCursor* active = nullptr;       // the cursor still receiving rows
  mutable bool copy_out_refused = false;  // a COPY TO STDOUT's data was thrown away

  std::string Scrub(std::string message) const {
    if (!password.empty()) message = ReplaceAll(message, password, "***");
    return message;
  }
  [[noreturn]] void Fail(std::string message) const {
    throw Error(kEDatabaseError, Scrub(OneLine(message)));
  }
  [[noreturn]] void FailConnection() const {
    Fail(conn ? PQerrorMessage(conn) : "The connection is closed");
  }
  [[noreturn]] void FailResult(const PGresult* r) const {
    const char* primary = PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY);
    if (primary && *primary) Fail(primary);
    const char* msg = PQresultErrorMessage(r);
    if (msg && *msg) Fail(msg);
    FailConnection();
  }
  PGconn* Conn() const {
    if (!conn) throw Error(kEDatabaseError, "The connection is closed");
    return conn;
  }
};

// A deadline for the wait of a statement; none when the time-out is 0.
class Deadline {
 public:
  explicit Deadline(int seconds) : seconds_(seconds) {
    if (seconds > 0) end_ = Clock::now() + std::chrono::seconds(seconds);
  }
  bool none() const { return seconds_ <= 0; }
  int seconds() const { return seconds_; }
  int RemainingMs() const {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
    return ms < 0 ? 0 : int(std::min<int64_t>(ms, 1 << 30));
  }
  bool expired = false;  // the cancel request went out

 private:
  int seconds_;
  Clock::time_point end_{};
};

void SendCancel(PGconn* conn) {
  PGcancel* c = PQgetCancel(conn);
  if (!c) return;
  char err[256];
  PQcancel(c, err, sizeof err);
  PQfreeCancel(c);
}

// The next result of the running statement; waits at most until the
// deadline, then cancels the statement and waits for its outcome.
PgResult NextResult(const Session& s, Deadline* deadline) {
  PGconn* conn = s.Conn();
  if (deadline && !deadline->none()) {
    while (PQisBusy(conn)) {
      const int wait = deadline->expired ? -1 : deadline->RemainingMs();
      if (!deadline->expired && wait == 0) {
        SendCancel(conn);
        deadline->expired = true;
        continue;
      }
      pollfd p{PQsocket(conn), POLLIN, 0};
      if (p.fd < 0) s.FailConnection();
      int rc = poll(&p, 1, wait);
      if (rc < 0 && errno != EINTR) s.FailConnection();
      if (rc > 0 && !PQconsumeInput(conn)) break;  // PQgetResult reports the loss
    }
  }
  for (;;) {
    PgResult r(PQgetResult(conn));
    if (!r) return r;
    // There is no client-side stream for COPY: refuse it and keep the
    // connection in step with the server.
    switch (PQresultStatus(r.get())) {
      case PGRES_COPY_IN:
        PQputCopyEnd(conn, "COPY FROM STDIN is not supported; use INSERT");
        continue;
      case PGRES_COPY_OUT:
      case PGRES_COPY_BOTH: {
        char* buf = nullptr;
        while (PQgetCopyData(conn, &buf, 0) > 0) PQfreemem(buf);
        s.copy_out_refused = true;
        continue;
      }
      default:
        return r;
    }
  }
}

void FailIfCopyOut(const Session& s) {
  if (!s.copy_out_refused) return;
  s.copy_out_refused = false;
  s.Fail("COPY TO STDOUT is not supported; read the rows with a SELECT");
}

bool IsError(const PGresult* r) {
  const ExecStatusType st = PQresultStatus(r);
  return st == PGRES_FATAL_ERROR || st == PGRES_BAD_RESPONSE || st == PGRES_NONFATAL_ERROR;
}

// Raises the error of a failed result; a time-out gets its own message.
[[noreturn]] void FailWith(const Session& s, const PGresult* r, const Deadline* deadline) {
  const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
  if (deadline && deadline->expired && state && std::strcmp(state, "57014") == 0)
    throw Error(kEDatabaseError, "The command time-out of " + std::to_string(deadline->seconds()) +
                                     " s expired and the statement was canceled");
  s.FailResult(r);
}

// Reads every remaining result of the statement, discarding rows; raises
// the first error after all were read (the connection is then idle).
void Drain(const Session& s, Deadline* deadline) {
  PgResult first_error;
  while (PgResult r = NextResult(s, deadline))
    if (IsError(r.get()) && !first_error) first_error = std::move(r);
  if (first_error) {
    s.copy_out_refused = false;
    FailWith(s, first_error.get(), deadline);
  }
  FailIfCopyOut(s);
  if (PQstatus(s.Conn()) != CONNECTION_OK) s.FailConnection();
}

class PgCursor : public Cursor {
 public:
  PgCursor(std::shared_ptr<Session> session, Deadline deadline) : session_(std::move(session)) {
    // Wait for the statement under the deadline until its rows begin.
    for (;;) {
      PgResult r = NextResult(*session_, &deadline);
      if (!r) {
        finished_ = true;
        FailIfCopyOut(*session_);
        break;
      }
      if (IsError(r.get())) {
        finished_ = true;
        PgResult keep = std::move(r);
        try {
          Drain(*session_, nullptr);
        } catch (const Error&) {
        }
        FailWith(*session_, keep.get(), &deadline);
      }
      const ExecStatusType st = PQresultStatus(r.get());
      if (st == PGRES_SINGLE_TUPLE || st == PGRES_TUPLES_OK) {
        Describe(r.get());
        if (st == PGRES_SINGLE_TUPLE)
          pending_.push_back(std::move(r));
        else
          Finish();
        break;
      }
      // A command without rows before the result set: keep waiting.
    }
    if (!finished_) session_->active = this;
  }

  ~PgCursor() override {
    if (session_->active == this) {
      session_->active = nullptr;
      try {
        Drain(*session_, nullptr);
      } catch (...) {
        // The statement failed after its reader lost interest; nothing to tell.
      }
    }
  }

  const std::vector<FieldDef>& fields() const override { return fields_; }

  bool Fetch(std::vector<Value>& row) override {
    if (abandoned_)
      throw Error(kEDatabaseError, "The rest of the result set was discarded by a rollback");
    for (;;) {
      PgResult r;
      if (!pending_.empty()) {
        r = std::move(pending_.front());
        pending_.pop_front();
      } else if (finished_) {
        return false;
      } else {
        r = NextResult(*session_, nullptr);
        if (!r) {
          finished_ = true;
          session_->active = nullptr;
          if (PQstatus(session_->Conn()) != CONNECTION_OK) session_->FailConnection();
          return false;
        }
      }
      const ExecStatusType st = PQresultStatus(r.get());
      if (st == PGRES_SINGLE_TUPLE) {
        row.resize(columns_.size());
        for (size_t c = 0; c < columns_.size(); ++c)
          Convert(columns_[c], PQgetvalue(r.get(), 0, int(c)), PQgetlength(r.get(), 0, int(c)),
                  PQgetisnull(r.get(), 0, int(c)), session_->sql_ascii, row[c]);
        return true;
      }
      if (IsError(r.get())) {
        pending_.clear();
        if (!finished_) {
          finished_ = true;
          session_->active = nullptr;
          try {
            Drain(*session_, nullptr);
          } catch (const Error&) {
          }
        }
        session_->FailResult(r.get());
      }
      if (st == PGRES_TUPLES_OK && !finished_) Finish();
      // End of the row set (or a later command's result): read on.
    }
  }

  // Stops the stream of a result whose transaction is being rolled back:
  // its remaining rows are worthless, so they are neither read into memory
  // nor waited for.
  void Abandon() {
    session_->active = nullptr;
    SendCancel(session_->Conn());
    try {
      Drain(*session_, nullptr);
    } catch (const Error&) {
      // The cancel's own error, or the statement's: the rollback follows.
    }
    pending_.clear();
    finished_ = true;
    abandoned_ = true;
  }

  // Reads the rest of the stream into memory so that the connection can run
  // another statement while this cursor stays readable.
  void Detach() {
    session_->active = nullptr;
    while (PgResult r = NextResult(*session_, nullptr)) {
      const bool tuples_end = PQresultStatus(r.get()) == PGRES_TUPLES_OK;
      if (!tuples_end) pending_.push_back(std::move(r));
    }
    finished_ = true;
  }

 private:
  void Describe(const PGresult* r) {
    const int n = PQnfields(r);
    for (int c = 0; c < n; ++c) {
      std::string name = PQfname(r, c);
      if (session_->sql_ascii) name = SanitizeUtf8(name);
      auto [def, conv] = DescribeColumn(PQftype(r, c), PQfmod(r, c), name);
      fields_.push_back(std::move(def));
      columns_.push_back({conv, std::move(name)});
    }
  }

  // The row set ended: collect what follows (normally nothing) so that an
  // error after the rows is still reported.
  void Finish() {
    finished_ = true;
    if (session_->active == this) session_->active = nullptr;
    while (PgResult r = NextResult(*session_, nullptr))
      if (IsError(r.get())) pending_.push_back(std::move(r));
  }

  std::shared_ptr<Session> session_;
  std::vector<FieldDef> fields_;
  std::vector<Column> columns_;
  std::deque<PgResult> pending_;  // results received but not yet read
  bool finished_ = false;         // the connection has no more results for us
  bool abandoned_ = false;        // a rollback discarded the rest
};

// Splits "host:port"; an IPv6 address stays whole unless bracketed.
void SplitHostPort(const std::string& ds, std::string& host, std::string& port) {
  host = ds;
  if (!ds.empty() && ds.front() == '[') {
    size_t close = ds.find(']');
    if (close != std::string::npos) {
      host = ds.substr(1, close - 1);
      if (close + 1 < ds.size() && ds[close + 1] == ':') port = ds.substr(close + 2);
    }
    return;
  }
  size_t colon = ds.rfind(':');
  if (colon != std::string::npos && ds.find(':') == colon && colon + 1 < ds.size() &&
      ds.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
    host = ds.substr(0, colon);
    port = ds.substr(colon + 1);
  }
}

class PostgresBackend : public Backend {
 public:
  ~PostgresBackend() override { Close(); }

  void Open(const ConnectionString& cs, int connect_timeout) override {
    Close();
    auto session = std::make_shared<Session>();
    session->password = cs.Get("Password");
    std::string host, port;
    SplitHostPort(cs.Get("Data Source"), host, port);
    if (port.empty()) port = cs.Get("Port");
    std::string db = cs.Get("Initial Catalog");
    if (db.empty()) db = cs.Get("Location");
    const std::string timeout = std::to_string(connect_timeout < 0 ? 0 : connect_timeout);

    std::vector<std::pair<std::string, std::string>> params = {
        {"host", host},
        {"port", port},
        {"dbname", db},
        {"user", cs.Get("User ID")},
        {"password", session->password},
        {"connect_timeout", timeout},
        {"client_encoding", "UTF8"},
        {"application_name", "ostrevane"},
    };
    // Other libpq keywords (sslmode, sslrootcert, ...) pass through.
    if (PQconninfoOption* defaults = PQconndefaults()) {
      for (const auto& [key, value] : cs.entries()) {
        bool known = false;
        for (auto& p : params) known = known || IEquals(p.first, key);
        if (known || IEquals(key, "password") || IEquals(key, "expand_dbname")) continue;
        for (PQconninfoOption* o = defaults; o->keyword; ++o)
          if (IEquals(o->keyword, key)) params.emplace_back(o->keyword, value);
      }
      PQconninfoFree(defaults);
    }
    std::vector<const char*> keys, values;
    for (const auto& [k, v] : params) {
      if (v.empty()) continue;  // libpq's default (environment, socket)
      keys.push_back(k.c_str());
      values.push_back(v.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    session->conn = PQconnectdbParams(keys.data(), values.data(), 0);
    if (!session->conn) throw Error(kEDatabaseError, "Out of memory connecting to PostgreSQL");
    if (PQstatus(session->conn) != CONNECTION_OK) {
      std::string message = PQerrorMessage(session->conn);
      PQfinish(session->conn);
      session->conn = nullptr;
      session->Fail(message);
    }
    PQsetNoticeProcessor(
        session->conn, [](void*, const char*) {}, nullptr);
    const char* enc = PQparameterStatus(session->conn, "server_encoding");
    session->sql_ascii = enc && std::strcmp(enc, "SQL_ASCII") == 0;
    session_ = std::move(session);
    try {
      // A SQL_ASCII database holds bytes in no known encoding, and the server
      // refuses to send them as UTF-8: they come raw and are made valid here.
      Exec(std::string("SET DateStyle = 'ISO, MDY'; SET extra_float_digits = 3; "
                       "SET bytea_output = 'hex'; SET IntervalStyle = 'postgres'; ") +
           "SET client_encoding = '" + ClientEncoding() + "'");
    } catch (...) {
      Close();
      throw;
    }
  }

  void Close() override {
    if (!session_) return;
    if (session_->conn) PQfinish(session_->conn);
    session_->conn = nullptr;
    session_->active = nullptr;
    session_.reset();
  }

  void Begin() override { Exec("BEGIN"); }

  void Commit() override {
    PgResult r = Exec("COMMIT");
    // COMMIT of a transaction that an error aborted answers "ROLLBACK".
    if (std::strcmp(PQcmdStatus(r.get()), "ROLLBACK") == 0)
      throw Error(kEDatabaseError,
                  "The transaction was rolled back by the server because a statement in it failed");
  }

  void Rollback() override {
    // A lost connection has nothing left to roll back.
    if (!session_ || !session_->conn || PQstatus(session_->conn) != CONNECTION_OK) return;
    if (session_->active) session_->active->Abandon();
    Exec("ROLLBACK");
  }

  std::string Placeholder(size_t index) const override { return "$" + std::to_string(index + 1); }

  std::unique_ptr<Cursor> Run(const std::string& sql, const std::vector<BoundParam>& params,
                              int command_timeout, bool want_rows) override {
    Session& s = Ready();
    Deadline deadline(command_timeout);
    if (!want_rows && params.empty()) {
      // A script goes whole to the server, which splits it.
      Send(sql, {}, {});
      Drain(s, &deadline);
      return std::make_unique<EmptyCursor>();
    }
    std::vector<PgStatement> statements = SplitPgStatements(sql);
    if (statements.empty()) return std::make_unique<EmptyCursor>();
    for (size_t k = 0; k < statements.size(); ++k) {
      const bool last = k + 1 == statements.size();
      if (k > 0) RestoreFormats();
      if (statements.size() == 1 && params.empty()) {
        Send(sql, {}, {});
      } else {
        PgPiece piece = MakePgPiece(sql, statements[k], params.size());
        Send(piece.sql, piece.value_index, params);
      }
      if (last && want_rows) {
        if (!PQsetSingleRowMode(s.conn)) s.FailConnection();
        return std::make_unique<PgCursor>(session_, deadline);
      }
      Drain(s, &deadline);
    }
    return std::make_unique<EmptyCursor>();
  }

 private:
  const char* ClientEncoding() const { return session_->sql_ascii ? "SQL_ASCII" : "UTF8"; }

  // The session, idle and with its formats in place.
  Session& Ready() {
    if (!session_ || !session_->conn) throw Error(kEDatabaseError, "The connection is closed");
    if (session_->active) session_->active->Detach();
    if (PQstatus(session_->conn) != CONNECTION_OK) session_->FailConnection();
    RestoreFormats();
    return *session_;
  }

  // A script may have changed the formats the reader relies on; the server
  // reports both settings, so the check costs no round trip.
  void RestoreFormats() {
    const char* ds = PQparameterStatus(session_->conn, "DateStyle");
    const char* ce = PQparameterStatus(session_->conn, "client_encoding");
    if ((ds && std::strncmp(ds, "ISO", 3) != 0) || (ce && std::strcmp(ce, ClientEncoding()) != 0))
      Exec(std::string("SET DateStyle = 'ISO, MDY'; SET client_encoding = '") + ClientEncoding() +
           "'");
  }

  // Runs an internal command to its end; returns its last result.
  PgResult Exec(const std::string& sql) {
    if (!session_ || !session_->conn) throw Error(kEDatabaseError, "The connection is closed");
    if (session_->active) session_->active->Detach();
    PgResult r(PQexec(session_->conn, sql.c_str()));
    if (!r) session_->FailConnection();
    if (IsError(r.get())) session_->FailResult(r.get());
    return r;
  }

  void Send(const std::string& sql, const std::vector<size_t>& value_index,
            const std::vector<BoundParam>& params) {
    PGconn* conn = session_->conn;
    int ok;
    if (value_index.empty()) {
      ok = PQsendQuery(conn, sql.c_str());
    } else {
      const size_t n = value_index.size();
      std::vector<Oid> types(n, 0);
      std::vector<std::string> texts(n);
      std::vector<const char*> values(n, nullptr);
      std::vector<int> lengths(n, 0), formats(n, 0);
      for (size_t k = 0; k < n; ++k) {
        const BoundParam& p = params[value_index[k]];
        types[k] = ParamOid(p.type);
        if (!p.value || p.value->IsNull()) continue;
        if (p.value->kind == ValueKind::kBytes) {
          types[k] = kByteaOid;
          formats[k] = 1;
          values[k] = p.value->s.data();
          lengths[k] = int(p.value->s.size());
          continue;
        }
        texts[k] = ParamText(*p.value, types[k]);
        values[k] = texts[k].c_str();
      }
      ok = PQsendQueryParams(conn, sql.c_str(), int(n), types.data(), values.data(), lengths.data(),
                             formats.data(), 0);
    }
    if (!ok) session_->FailConnection();
  }

  std::shared_ptr<Session> session_;
};

}  // namespace

std::unique_ptr<Backend> MakePostgresBackend() { return std::make_unique<PostgresBackend>(); }

}  // namespace ostrevane
