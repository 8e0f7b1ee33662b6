#include "writers/datetime_format.h"

#include <algorithm>
#include <cmath>

#include "common/text.h"
#include "writers/number_text.h"

namespace ostrevane {
namespace {

// Patterns held in the settings are interpreted one level deeper; a pattern
// reached from a level-2 pattern adds nothing, so settings that refer to
// each other cannot recurse.
constexpr int kMaxLevel = 2;

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Bytes of the UTF-8 sequence that starts with lead byte `b` (1 for a byte
// that starts none), limited to the continuation bytes actually present.
size_t SequenceLength(std::string_view s, size_t i) {
  const unsigned char b = static_cast<unsigned char>(s[i]);
  size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
  size_t k = 1;
  while (k < len && i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80) ++k;
  return k;
}

class Formatter {
 public:
  Formatter(std::string& out, const TFormatSettings& fs, DateTime value, bool escape)
      : out_(out), fs_(fs), value_(value), escape_(escape) {}

  void Run(std::string_view p, int level);

 private:
  const DateTimeParts& Parts() {
    if (!decoded_) {
      parts_ = DecodeForText(value_);
      decoded_ = true;
    }
    return parts_;
  }
  void Name(const std::string& name) { out_ += name; }

  std::string& out_;
  const TFormatSettings& fs_;
  const DateTime value_;
  const bool escape_;
  bool decoded_ = false;
  DateTimeParts parts_;
};

// Whether the 12-hour clock applies to an hour whose run ends before `from`:
// the rest of the pattern up to the next "h" or the first "a" outside quotes.
bool ScanFor12Hour(std::string_view p, size_t from) {
  bool in_quote = false;
  for (size_t j = from; j < p.size(); ++j) {
    const char x = p[j];
    if (x == 'h' || x == 'H') return false;
    if (x == '\'' || x == '"') {
      in_quote = !in_quote;
    } else if ((x == 'a' || x == 'A') && !in_quote) {
      const std::string_view rest = p.substr(j);
      return IStartsWith(rest, "AM/PM") || IStartsWith(rest, "A/P") || IStartsWith(rest, "AMPM");
    }
  }
  return false;
}

void Formatter::Run(std::string_view p, int level) {
  if (level > kMaxLevel) return;
  char last = ' ';
  bool twelve_hour = false;
  bool pending_escape = false;
  const size_t n = p.size();
  size_t i = 0;
  while (i < n) {
    if (static_cast<unsigned char>(p[i]) >= 0x80) {
      // A character outside ASCII is copied whole. One outside the basic
      // plane resets the last letter and leaves a pending escape pending.
      const size_t len = SequenceLength(p, i);
      const bool supplementary = static_cast<unsigned char>(p[i]) >= 0xF0;
      out_.append(p.substr(i, len));
      i += len;
      if (supplementary) {
        last = ' ';
      } else {
        pending_escape = false;
      }
      continue;
    }
    const char c = p[i++];
    if (pending_escape) {
      out_ += c;
      pending_escape = false;
      continue;
    }
    char f = ToUpperAscii(c);
    if (IsAsciiLetter(c)) {
      if (f == 'M' && last == 'H') f = 'N';
      last = f;
    }
    auto run = [&]() -> size_t {
      size_t k = 1;
      while (i < n && p[i] == c) {
        ++i;
        ++k;
      }
      return k;
    };
    switch (f) {
      case 'Y': {
        const size_t k = run();
        const int year = Parts().year;
        if (k <= 2)
          AppendPadded(out_, ((year % 100) + 100) % 100, 2);
        else
          AppendPadded(out_, year, 4);
        break;
      }
      case 'M': {
        const size_t k = run();
        const int month = Parts().month;
        if (k <= 2)
          AppendPadded(out_, month, int(k));
        else
          Name(k == 3 ? fs_.ShortMonthNames[month - 1] : fs_.LongMonthNames[month - 1]);
        break;
      }
      case 'N':
        AppendPadded(out_, Parts().minute, int(std::min<size_t>(run(), 2)));
        break;
      case 'D': {
        const size_t k = run();
        if (k <= 2)
          AppendPadded(out_, Parts().day, int(k));
        else if (k == 3)
          Name(fs_.ShortDayNames[Parts().day_of_week - 1]);
        else if (k == 4)
          Name(fs_.LongDayNames[Parts().day_of_week - 1]);
        else
          Run(k == 5 ? fs_.ShortDateFormat : fs_.LongDateFormat, level + 1);
        break;
      }
      case 'H': {
        const size_t k = run();
        if (!twelve_hour) twelve_hour = ScanFor12Hour(p, i);
        int hour = Parts().hour;
        if (twelve_hour) {
          if (hour == 0)
            hour = 12;
          else if (hour > 12)
            hour -= 12;
        }
        AppendPadded(out_, hour, int(std::min<size_t>(k, 2)));
        break;
      }
      case 'S':
        AppendPadded(out_, Parts().second, int(std::min<size_t>(run(), 2)));
        break;
      case 'Z':
        AppendPadded(out_, Parts().millisecond, int(std::min<size_t>(run(), 3)));
        break;
      case 'T':
        Run(run() == 1 ? fs_.ShortTimeFormat : fs_.LongTimeFormat, level + 1);
        break;
      case 'C': {
        run();
        Run(fs_.ShortDateFormat, level + 1);
        const DateTimeParts& t = Parts();
        if (t.hour != 0 || t.minute != 0 || t.second != 0 || t.millisecond != 0) {
          out_ += ' ';
          Run(fs_.LongTimeFormat, level + 1);
        }
        break;
      }
      case 'G':
      case 'E':
        // Eras and alternative-calendar years: no such calendars here.
        run();
        break;
      case 'A': {
        const std::string_view rest = p.substr(i - 1);
        const bool pm = Parts().hour >= 12;
        if (IStartsWith(rest, "AM/PM")) {
          out_.append(rest.substr(pm ? 3 : 0, 2));
          i += 4;
          twelve_hour = true;
        } else if (IStartsWith(rest, "A/P")) {
          out_ += rest[pm ? 2 : 0];
          i += 2;
          twelve_hour = true;
        } else if (IStartsWith(rest, "AMPM")) {
          Name(pm ? fs_.TimePMString : fs_.TimeAMString);
          i += 3;
          twelve_hour = true;
        } else if (IStartsWith(rest, "AAAA")) {
          Name(fs_.LongDayNames[Parts().day_of_week - 1]);
          i += 3;
        } else if (IStartsWith(rest, "AAA")) {
          Name(fs_.ShortDayNames[Parts().day_of_week - 1]);
          i += 2;
        } else {
          out_ += c;
        }
        break;
      }
      case '/':
        if (fs_.DateSeparator != '\0') out_ += fs_.DateSeparator;
        break;
      case ':':
        if (fs_.TimeSeparator != '\0') out_ += fs_.TimeSeparator;
        break;
      case '\'':
      case '"': {
        const size_t close = p.find(c, i);
        const size_t end = close == std::string_view::npos ? n : close;
        out_.append(p.substr(i, end - i));
        i = close == std::string_view::npos ? n : close + 1;
        break;
      }
      case '!':
        if (escape_)
          pending_escape = true;
        else
          out_ += c;
        break;
      default:
        out_ += c;
        break;
    }
  }
}

}  // namespace

DateTimeParts DecodeForText(DateTime value) {
  // DecodeDateTime's calendar arithmetic holds for |days| far beyond any
  // real date; past 1e11 days it would overflow.
  if (!(std::fabs(value) < 1e11)) return DecodeDateTime(NAN);
  return DecodeDateTime(value);
}

void AppendDateTimeText(std::string& out, std::string_view pattern, const TFormatSettings& fs,
                        DateTime value, bool escape) {
  Formatter f(out, fs, value, escape);
  f.Run(pattern.empty() ? std::string_view("C") : pattern, 1);
}

DateTimePattern::DateTimePattern(std::string pattern, const TFormatSettings& fs, bool escape)
    : pattern_(pattern.empty() ? std::string("C") : std::move(pattern)), fs_(fs), escape_(escape) {
  prepared_ = Prepare(fs);
  if (!prepared_) steps_.clear();
}

// Walks the pattern as Formatter::Run does at its first level, recording
// steps instead of text; gives up on anything whose text is not a number
// of the value or a literal.
bool DateTimePattern::Prepare(const TFormatSettings& fs) {
  const std::string_view p = pattern_;
  for (char x : p)
    if (x == 'a' || x == 'A') return false;  // the 12-hour clock and day names
  auto literal = [this](std::string_view text) {
    if (text.empty()) return;
    if (steps_.empty() || steps_.back().part != Part::kLiteral) steps_.push_back({Part::kLiteral, 0, {}});
    steps_.back().literal.append(text);
  };
  auto number = [this](Part part, size_t digits) { steps_.push_back({part, int(digits), {}}); };
  char last = ' ';
  bool pending_escape = false;
  const size_t n = p.size();
  size_t i = 0;
  while (i < n) {
    if (static_cast<unsigned char>(p[i]) >= 0x80) {
      const size_t len = SequenceLength(p, i);
      const bool supplementary = static_cast<unsigned char>(p[i]) >= 0xF0;
      literal(p.substr(i, len));
      i += len;
      if (supplementary)
        last = ' ';
      else
        pending_escape = false;
      continue;
    }
    const char c = p[i++];
    if (pending_escape) {
      literal(std::string_view(&c, 1));
      pending_escape = false;
      continue;
    }
    char f = ToUpperAscii(c);
    if (IsAsciiLetter(c)) {
      if (f == 'M' && last == 'H') f = 'N';
      last = f;
    }
    size_t k = 1;
    auto run = [&] {
      while (i < n && p[i] == c) {
        ++i;
        ++k;
      }
      return k;
    };
    switch (f) {
      case 'Y':
        number(run() <= 2 ? Part::kYear2 : Part::kYear4, k <= 2 ? 2 : 4);
        break;
      case 'M':
        if (run() > 2) return false;
        number(Part::kMonth, k);
        break;
      case 'N':
        number(Part::kMinute, std::min<size_t>(run(), 2));
        break;
      case 'D':
        if (run() > 2) return false;
        number(Part::kDay, k);
        break;
      case 'H':
        number(Part::kHour, std::min<size_t>(run(), 2));
        break;
      case 'S':
        number(Part::kSecond, std::min<size_t>(run(), 2));
        break;
      case 'Z':
        number(Part::kMilli, std::min<size_t>(run(), 3));
        break;
      case 'T':
      case 'C':
      case 'G':
      case 'E':
        return false;
      case '/':
        if (fs.DateSeparator != '\0') literal(std::string_view(&fs.DateSeparator, 1));
        break;
      case ':':
        if (fs.TimeSeparator != '\0') literal(std::string_view(&fs.TimeSeparator, 1));
        break;
      case '\'':
      case '"': {
        const size_t close = p.find(c, i);
        const size_t end = close == std::string_view::npos ? n : close;
        literal(p.substr(i, end - i));
        i = close == std::string_view::npos ? n : close + 1;
        break;
      }
      case '!':
        if (escape_)
          pending_escape = true;
        else
          literal("!");
        break;
      default:
        literal(std::string_view(&c, 1));
        break;
    }
  }
  return true;
}

void DateTimePattern::Append(std::string& out, DateTime value) const {
  if (!prepared_) {
    AppendDateTimeText(out, pattern_, fs_, value, escape_);
    return;
  }
  const DateTimeParts t = DecodeForText(value);
  for (const Step& s : steps_) {
    switch (s.part) {
      case Part::kLiteral: out += s.literal; break;
      case Part::kYear2: AppendPadded(out, ((t.year % 100) + 100) % 100, 2); break;
      case Part::kYear4: AppendPadded(out, t.year, 4); break;
      case Part::kMonth: AppendPadded(out, t.month, s.digits); break;
      case Part::kDay: AppendPadded(out, t.day, s.digits); break;
      case Part::kHour: AppendPadded(out, t.hour, s.digits); break;
      case Part::kMinute: AppendPadded(out, t.minute, s.digits); break;
      case Part::kSecond: AppendPadded(out, t.second, s.digits); break;
      case Part::kMilli: AppendPadded(out, t.millisecond, s.digits); break;
    }
  }
}

std::string FormatDateTimeText(std::string_view pattern, const TFormatSettings& fs,
                               DateTime value, bool escape) {
  std::string out;
  AppendDateTimeText(out, pattern, fs, value, escape);
  return out;
}

}  // namespace ostrevane
