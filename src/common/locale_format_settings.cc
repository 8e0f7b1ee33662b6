#include <iconv.h>
#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <string>

#include "common/format_settings.h"
#include "common/strftime_pattern.h"
#include "common/text.h"

namespace ostrevane {
namespace {

bool IsCLocale(const char* name) {
  return name == nullptr || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
         std::strncmp(name, "C.", 2) == 0;
}

// nl_langinfo texts are in the locale's code set; the program keeps UTF-8.
class LocaleText {
 public:
  LocaleText() {
    const char* codeset = nl_langinfo(CODESET);
    utf8_ = codeset == nullptr || IEquals(codeset, "UTF-8") || IEquals(codeset, "UTF8");
    if (!utf8_) cd_ = iconv_open("UTF-8", codeset);
  }
  ~LocaleText() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  LocaleText(const LocaleText&) = delete;
  LocaleText& operator=(const LocaleText&) = delete;

  std::string Get(nl_item item) const {
    const char* raw = nl_langinfo(item);
    const std::string_view s = raw ? raw : "";
    if (utf8_ || cd_ == reinterpret_cast<iconv_t>(-1)) return SanitizeUtf8(s);
    std::string out(s.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(s.data());
    size_t in_left = s.size();
    char* dst = out.data();
    size_t dst_left = out.size();
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd_, &in, &in_left, &dst, &dst_left) == static_cast<size_t>(-1)) return SanitizeUtf8(s);
    out.resize(out.size() - dst_left);
    return out;
  }

 private:
  bool utf8_ = true;
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
};

}  // namespace

TFormatSettings LocaleFormatSettings() {
  TFormatSettings fs = DefaultFormatSettings();
  if (IsCLocale(std::setlocale(LC_TIME, nullptr))) return fs;

  const LocaleText text;
  const std::string d_fmt = text.Get(D_FMT);
  const std::string t_fmt = text.Get(T_FMT);
  const std::string t_fmt_ampm = text.Get(T_FMT_AMPM);
  const std::string d_t_fmt = text.Get(D_T_FMT);

  fs.DateSeparator = StrftimeSeparator(d_fmt, fs.DateSeparator);
  fs.TimeSeparator = StrftimeSeparator(t_fmt, fs.TimeSeparator);
  if (!d_fmt.empty())
    fs.ShortDateFormat = StrftimeToPattern(d_fmt, fs.DateSeparator, fs.TimeSeparator, t_fmt_ampm);
  const std::string long_date = StrftimeLongDatePattern(d_t_fmt, fs.DateSeparator, fs.TimeSeparator);
  fs.LongDateFormat = long_date.empty() ? fs.ShortDateFormat : long_date;
  if (!t_fmt.empty()) {
    fs.LongTimeFormat = StrftimeToPattern(t_fmt, fs.DateSeparator, fs.TimeSeparator, t_fmt_ampm);
    fs.ShortTimeFormat = fs.LongTimeFormat;
  }
  const std::string am = text.Get(AM_STR), pm = text.Get(PM_STR);
  if (!am.empty() || !pm.empty()) {
    fs.TimeAMString = am;
    fs.TimePMString = pm;
  }
  for (int i = 0; i < 12; ++i) {
    if (std::string s = text.Get(ABMON_1 + i); !s.empty()) fs.ShortMonthNames[i] = s;
    if (std::string s = text.Get(MON_1 + i); !s.empty()) fs.LongMonthNames[i] = s;
  }
  for (int i = 0; i < 7; ++i) {
    if (std::string s = text.Get(ABDAY_1 + i); !s.empty()) fs.ShortDayNames[i] = s;
    if (std::string s = text.Get(DAY_1 + i); !s.empty()) fs.LongDayNames[i] = s;
  }
  fs.DecimalSeparator = '.';  // workers always write "."
  return fs;
}

}  // namespace ostrevane
