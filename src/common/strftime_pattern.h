// Turns the C library's locale formats (strftime conversions, as
// nl_langinfo gives them) into the program's date-time pattern language.
#pragma once

#include <string>
#include <string_view>

namespace ostrevane {

// The separator of a format: its first ASCII punctuation character outside
// conversions ("%d.%m.%Y" gives '.'); `fallback` when it has none.
char StrftimeSeparator(std::string_view fmt, char fallback);

// The pattern of `fmt`: %Y yyyy, %y yy, %m mm, %-m m, %b mmm, %B mmmm,
// %d dd, %e and %-d d, %a ddd, %A dddd, %H hh, %k h, %I hh, %M nn, %S ss,
// %p AMPM, %D %F %T %R %r spelt out (%r by `t_fmt_ampm`); zones, week and
// day-of-year numbers add nothing. Literal characters equal to the date or
// time separator become "/" and ":"; letters and the characters the
// language reads ("/", ":", quotes, "!") are quoted.
std::string StrftimeToPattern(std::string_view fmt, char date_separator, char time_separator,
                              std::string_view t_fmt_ampm = "%I:%M:%S %p");

// The date part of a date-and-time format (D_T_FMT) with names in their
// long forms: "%a %d %b %Y %r %Z" gives "dddd dd mmmm yyyy". Empty when
// the format holds no date.
std::string StrftimeLongDatePattern(std::string_view d_t_fmt, char date_separator,
                                    char time_separator);

}  // namespace ostrevane
