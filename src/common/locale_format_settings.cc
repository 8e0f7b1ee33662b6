#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

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

// Owns one locale object.
class LocaleObject {
 public:
  explicit LocaleObject(locale_t locale) : locale_(locale) {}
  ~LocaleObject() {
    if (locale_ != locale_t{}) freelocale(locale_);
  }
  LocaleObject(const LocaleObject&) = delete;
  LocaleObject& operator=(const LocaleObject&) = delete;
  locale_t get() const { return locale_; }
  explicit operator bool() const { return locale_ != locale_t{}; }

 private:
  locale_t locale_;
};

// nl_langinfo texts are in the locale's code set; the program keeps UTF-8.
class LocaleText {
 public:
  explicit LocaleText(locale_t locale) : locale_(locale) {
    const char* codeset = nl_langinfo_l(CODESET, locale_);
    utf8_ = codeset == nullptr || IEquals(codeset, "UTF-8") || IEquals(codeset, "UTF8");
    if (!utf8_) cd_ = iconv_open("UTF-8", codeset);
  }
  ~LocaleText() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  LocaleText(const LocaleText&) = delete;
  LocaleText& operator=(const LocaleText&) = delete;

  std::string Get(nl_item item) const {
    const char* raw = nl_langinfo_l(item, locale_);
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
  locale_t locale_;
  bool utf8_ = true;
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
};

// The formats of `locale`, which is no C or POSIX locale.
FormatSettings FormatsOf(locale_t locale) {
  FormatSettings formats = DefaultFormatSettings();
  const LocaleText text(locale);
  const std::string d_fmt = text.Get(D_FMT);
  const std::string t_fmt = text.Get(T_FMT);
  const std::string t_fmt_ampm = text.Get(T_FMT_AMPM);
  const std::string d_t_fmt = text.Get(D_T_FMT);

  formats.date_separator = StrftimeSeparator(d_fmt, formats.date_separator);
  formats.time_separator = StrftimeSeparator(t_fmt, formats.time_separator);
  if (!d_fmt.empty())
    formats.short_date_format =
        StrftimeToPattern(d_fmt, formats.date_separator, formats.time_separator, t_fmt_ampm);
  const std::string long_date =
      StrftimeLongDatePattern(d_t_fmt, formats.date_separator, formats.time_separator);
  formats.long_date_format = long_date.empty() ? formats.short_date_format : long_date;
  if (!t_fmt.empty()) {
    formats.long_time_format =
        StrftimeToPattern(t_fmt, formats.date_separator, formats.time_separator, t_fmt_ampm);
    formats.short_time_format = formats.long_time_format;
  }
  const std::string am = text.Get(AM_STR), pm = text.Get(PM_STR);
  if (!am.empty() || !pm.empty()) {
    formats.am_text = am;
    formats.pm_text = pm;
  }
  for (int i = 0; i < 12; ++i) {
    if (std::string s = text.Get(ABMON_1 + i); !s.empty()) formats.short_month_names[i] = s;
    if (std::string s = text.Get(MON_1 + i); !s.empty()) formats.long_month_names[i] = s;
  }
  for (int i = 0; i < 7; ++i) {
    if (std::string s = text.Get(ABDAY_1 + i); !s.empty()) formats.short_day_names[i] = s;
    if (std::string s = text.Get(DAY_1 + i); !s.empty()) formats.long_day_names[i] = s;
  }
  formats.decimal_separator = '.';  // workers always write "."
  return formats;
}

}  // namespace

FormatSettings LocaleFormatSettings() {
  const char* time_locale = std::setlocale(LC_TIME, nullptr);
  if (IsCLocale(time_locale)) return DefaultFormatSettings();
  // The texts of LC_TIME are read in its own locale's code set: the
  // process's character type may be another one (MakeCharacterTypeUtf8).
  LocaleObject own(newlocale(LC_ALL_MASK, time_locale, locale_t{}));
  if (own) return FormatsOf(own.get());
  const LocaleObject process(duplocale(LC_GLOBAL_LOCALE));
  return process ? FormatsOf(process.get()) : DefaultFormatSettings();
}

bool LocaleIsInstalled(const std::string& name) {
  return !name.empty() && LocaleObject(newlocale(LC_ALL_MASK, name.c_str(), locale_t{}));
}

bool NamedLocaleFormatSettings(const std::string& name, FormatSettings& formats) {
  const LocaleObject locale(name.empty() ? locale_t{}
                                         : newlocale(LC_ALL_MASK, name.c_str(), locale_t{}));
  if (!locale) return false;
  formats = IsCLocale(name.c_str()) ? DefaultFormatSettings() : FormatsOf(locale.get());
  return true;
}

}  // namespace ostrevane
