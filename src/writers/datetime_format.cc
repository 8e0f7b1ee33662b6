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
  Formatter(std::string& out, const FormatSettings& formats, DateTime value, bool escape)
      : out_(out), formats_(formats), value_(value), escape_(escape) {}

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
  const FormatSettings& formats_;
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

// One step of a pattern: text to copy as it stands, or a specifier (its
// letter folded to upper case, "m" after "h" read as "N", or "/" or ":")
// with the length of its run of equal characters.
struct PatternStep {
  bool is_text = false;
  std::string_view text;
  char specifier = 0;
  size_t count = 0;  // the run, for the specifiers that take one (else 1)
  size_t start = 0;  // where the step begins in the pattern
};

// Reads one pattern level step by step: the "!" escape, quotes,
// characters outside ASCII, letter folding and runs. The interpreter and
// the prepared patterns both read patterns through it, so they cannot
// disagree about what a pattern says.
class PatternReader {
 public:
  PatternReader(std::string_view p, bool escape) : p_(p), escape_(escape) {}

  bool Next(PatternStep& s);
  size_t pos() const { return i_; }  // just after the last step
  void Skip(size_t n) { i_ += n; }   // for specifiers longer than one step

 private:
  const std::string_view p_;
  const bool escape_;
  size_t i_ = 0;
  char last_ = ' ';  // the last letter, for "m" after "h"
  bool pending_escape_ = false;
};

bool PatternReader::Next(PatternStep& s) {
  const size_t n = p_.size();
  auto text = [&](size_t start, std::string_view t) {
    s = {true, t, 0, 0, start};
    return true;
  };
  while (i_ < n) {
    const size_t start = i_;
    if (static_cast<unsigned char>(p_[i_]) >= 0x80) {
      // A character outside ASCII is copied whole. One outside the basic
      // plane resets the last letter and leaves a pending escape pending.
      const size_t len = SequenceLength(p_, i_);
      if (static_cast<unsigned char>(p_[i_]) >= 0xF0)
        last_ = ' ';
      else
        pending_escape_ = false;
      i_ += len;
      return text(start, p_.substr(start, len));
    }
    const char c = p_[i_++];
    if (pending_escape_) {
      pending_escape_ = false;
      return text(start, p_.substr(start, 1));
    }
    char f = ToUpperAscii(c);
    if (IsAsciiLetter(c)) {
      if (f == 'M' && last_ == 'H') f = 'N';
      last_ = f;
    }
    switch (f) {
      case 'Y': case 'M': case 'N': case 'D': case 'H': case 'S': case 'Z':
      case 'T': case 'C': case 'G': case 'E': {
        size_t k = 1;
        while (i_ < n && p_[i_] == c) {
          ++i_;
          ++k;
        }
        s = {false, {}, f, k, start};
        return true;
      }
      case 'A':
      case '/':
      case ':':
        s = {false, {}, f, 1, start};
        return true;
      case '\'':
      case '"': {
        const size_t close = p_.find(c, i_);
        const size_t end = close == std::string_view::npos ? n : close;
        const std::string_view quoted = p_.substr(i_, end - i_);
        i_ = close == std::string_view::npos ? n : close + 1;
        return text(start, quoted);
      }
      case '!':
        if (!escape_) return text(start, p_.substr(start, 1));
        pending_escape_ = true;  // "!" itself writes nothing
        break;
      default:
        return text(start, p_.substr(start, 1));
    }
  }
  return false;
}

void Formatter::Run(std::string_view p, int level) {
  if (level > kMaxLevel) return;
  bool twelve_hour = false;
  PatternReader reader(p, escape_);
  PatternStep s;
  while (reader.Next(s)) {
    if (s.is_text) {
      out_ += s.text;
      continue;
    }
    const size_t k = s.count;
    switch (s.specifier) {
      case 'Y': {
        const int year = Parts().year;
        if (k <= 2)
          AppendPadded(out_, ((year % 100) + 100) % 100, 2);
        else
          AppendPadded(out_, year, 4);
        break;
      }
      case 'M': {
        const int month = Parts().month;
        if (k <= 2)
          AppendPadded(out_, month, int(k));
        else
          Name(k == 3 ? formats_.short_month_names[month - 1]
                      : formats_.long_month_names[month - 1]);
        break;
      }
      case 'N':
        AppendPadded(out_, Parts().minute, int(std::min<size_t>(k, 2)));
        break;
      case 'D':
        if (k <= 2)
          AppendPadded(out_, Parts().day, int(k));
        else if (k == 3)
          Name(formats_.short_day_names[Parts().day_of_week - 1]);
        else if (k == 4)
          Name(formats_.long_day_names[Parts().day_of_week - 1]);
        else
          Run(k == 5 ? formats_.short_date_format : formats_.long_date_format, level + 1);
        break;
      case 'H': {
        if (!twelve_hour) twelve_hour = ScanFor12Hour(p, reader.pos());
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
        AppendPadded(out_, Parts().second, int(std::min<size_t>(k, 2)));
        break;
      case 'Z':
        AppendPadded(out_, Parts().millisecond, int(std::min<size_t>(k, 3)));
        break;
      case 'T':
        Run(k == 1 ? formats_.short_time_format : formats_.long_time_format, level + 1);
        break;
      case 'C': {
        Run(formats_.short_date_format, level + 1);
        const DateTimeParts& t = Parts();
        if (t.hour != 0 || t.minute != 0 || t.second != 0 || t.millisecond != 0) {
          out_ += ' ';
          Run(formats_.long_time_format, level + 1);
        }
        break;
      }
      case 'G':
      case 'E':
        // Eras and alternative-calendar years: no such calendars here.
        break;
      case 'A': {
        const std::string_view rest = p.substr(s.start);
        const bool pm = Parts().hour >= 12;
        if (IStartsWith(rest, "AM/PM")) {
          out_.append(rest.substr(pm ? 3 : 0, 2));
          reader.Skip(4);
          twelve_hour = true;
        } else if (IStartsWith(rest, "A/P")) {
          out_ += rest[pm ? 2 : 0];
          reader.Skip(2);
          twelve_hour = true;
        } else if (IStartsWith(rest, "AMPM")) {
          Name(pm ? formats_.pm_text : formats_.am_text);
          reader.Skip(3);
          twelve_hour = true;
        } else if (IStartsWith(rest, "AAAA")) {
          Name(formats_.long_day_names[Parts().day_of_week - 1]);
          reader.Skip(3);
        } else if (IStartsWith(rest, "AAA")) {
          Name(formats_.short_day_names[Parts().day_of_week - 1]);
          reader.Skip(2);
        } else {
          out_ += rest[0];
        }
        break;
      }
      case '/':
        if (formats_.date_separator != '\0') out_ += formats_.date_separator;
        break;
      case ':':
        if (formats_.time_separator != '\0') out_ += formats_.time_separator;
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

void AppendIsoDateTime(std::string& out, DateTime value, IsoForm form, bool millis) {
  const DateTimeParts p = DecodeForText(value);
  // The usual case is put together in one buffer: this runs for every
  // date of every record.
  char text[32];
  char* w = text;
  auto put = [&w](int v, int digits) {
    for (int k = digits - 1; k >= 0; --k, v /= 10) w[k] = char('0' + v % 10);
    w += digits;
  };
  if (form != IsoForm::kTime) {
    if (p.year >= 0 && p.year <= 9999) {
      put(p.year, 4);
    } else {
      AppendPadded(out, p.year, 4);
    }
    *w++ = '-';
    put(p.month, 2);
    *w++ = '-';
    put(p.day, 2);
    if (form == IsoForm::kDateTime) *w++ = 'T';
  }
  if (form != IsoForm::kDate) {
    put(p.hour, 2);
    *w++ = ':';
    put(p.minute, 2);
    *w++ = ':';
    put(p.second, 2);
    if (millis && p.millisecond != 0) {
      *w++ = '.';
      put(p.millisecond, 3);
    }
  }
  out.append(text, size_t(w - text));
}

void AppendDateTimeText(std::string& out, std::string_view pattern, const FormatSettings& formats,
                        DateTime value, bool escape) {
  Formatter f(out, formats, value, escape);
  f.Run(pattern.empty() ? std::string_view("C") : pattern, 1);
}

DateTimePattern::DateTimePattern(std::string pattern, const FormatSettings& formats, bool escape)
    : pattern_(pattern.empty() ? std::string("C") : std::move(pattern)),
      formats_(formats),
      escape_(escape) {
  prepared_ = Prepare(formats);
  if (!prepared_) steps_.clear();
}

// Reads the pattern as the interpreter does at its first level, recording
// steps instead of text; gives up on anything whose text is not a number
// of the value or a literal.
bool DateTimePattern::Prepare(const FormatSettings& formats) {
  for (char x : pattern_)
    if (x == 'a' || x == 'A') return false;  // the 12-hour clock and day names
  auto literal = [this](std::string_view text) {
    if (text.empty()) return;
    if (steps_.empty() || steps_.back().part != Part::kLiteral) steps_.push_back({Part::kLiteral, 0, {}});
    steps_.back().literal.append(text);
  };
  auto number = [this](Part part, size_t digits) { steps_.push_back({part, int(digits), {}}); };
  PatternReader reader(pattern_, escape_);
  PatternStep s;
  while (reader.Next(s)) {
    if (s.is_text) {
      literal(s.text);
      continue;
    }
    const size_t k = s.count;
    switch (s.specifier) {
      case 'Y':
        number(k <= 2 ? Part::kYear2 : Part::kYear4, k <= 2 ? 2 : 4);
        break;
      case 'M':
        if (k > 2) return false;
        number(Part::kMonth, k);
        break;
      case 'N':
        number(Part::kMinute, std::min<size_t>(k, 2));
        break;
      case 'D':
        if (k > 2) return false;
        number(Part::kDay, k);
        break;
      case 'H':
        number(Part::kHour, std::min<size_t>(k, 2));
        break;
      case 'S':
        number(Part::kSecond, std::min<size_t>(k, 2));
        break;
      case 'Z':
        number(Part::kMilli, std::min<size_t>(k, 3));
        break;
      case '/':
        if (formats.date_separator != '\0') literal(std::string_view(&formats.date_separator, 1));
        break;
      case ':':
        if (formats.time_separator != '\0') literal(std::string_view(&formats.time_separator, 1));
        break;
      default:  // "t", "c", "g", "e", "a": settings patterns, names, calendars
        return false;
    }
  }
  return true;
}

void DateTimePattern::Append(std::string& out, DateTime value) const {
  if (!prepared_) {
    AppendDateTimeText(out, pattern_, formats_, value, escape_);
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

std::string FormatDateTime(std::string_view pattern, const FormatSettings& formats, DateTime value,
                           bool escape) {
  std::string out;
  AppendDateTimeText(out, pattern, formats, value, escape);
  return out;
}

}  // namespace ostrevane
