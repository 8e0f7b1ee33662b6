// Job options ("-udl:conn.udl", "-tocsv:out.csv", ...) applied to a job.
#pragma once

#include <string>
#include <string_view>

#include "common/error.h"
#include "common/format_settings.h"
#include "control/job.h"
#include "control/names.h"
#include "settings/settings.h"

namespace ostrevane {

// What option parsing reads besides the token: the settings (-http, -ftp,
// -ftpdir copy server settings), the names table (-ds) and the program
// format settings with the joiner (the default format of -fields).
struct OptionContext {
  const Settings* settings = nullptr;
  const NamesTable* names = nullptr;
  FormatSettings format;
  std::string joiner = " ";
};

// Applies one option token ("-name" or "-name:value") to the job. Names
// are compared without regard to case; an empty token changes nothing, a
// token that names no option raises Exception("unknown option \"TOKEN\"")
// (TOKEN masked, MaskedOption). Raises the errors of the files it reads
// (-udl, -sql, -postsql, -postrecsql, -frtemplate, -mailbody) and of the
// "${...}" references in the value (common/environment_text.h: expanded,
// or for -ds and -params and a data-link file's text only checked, those
// staying as written), EConvertError for a
// non-integer -csvcp, UnclosedQuote for an unclosed quote before the first
// ":", and an "option -NAME: " error for a value it refuses: a control
// character in a file name, template, folder or recipients, a -csvformat
// that is empty or longer than two characters ("\t" is a TAB), a
// -frtemplate before -mail.
void ApplyOption(std::string_view token, Job& job, const OptionContext& ctx);

// The splitter's error for a quote in `text` that is not closed, `rest`
// being the tail of `text` after that quote: "Can't find 2nd insulator
// '\"':" CR LF and the rest, its secrets masked.
Error UnclosedQuote(std::string_view text, std::string_view rest);

// An option token as messages and reports show it: the value masked by
// MaskSecrets (as a server for -ds), in the light of the name before it
// (-params:password=x).
std::string MaskedOption(std::string_view token);
// A list line as reports show it: every option masked (MaskedOption).
std::string MaskedListLine(std::string_view line);

// Whether the token ("-name" or "-name:value") names a job option.
bool IsJobOption(std::string_view token);
// The name of the job option the token names, as the manual writes it
// ("-params"), or "" when it names none.
std::string_view JobOptionName(std::string_view token);

// Sets the program's default formats (single-job mode and the first job of
// a list): date_pattern "YYYYMMDD", time_pattern "HHNNSSZZZ", csv_separator
// ";", csv_quote the double quote, csv_code_page 1, if_empty kError.
void SetDefaultFormats(Job& job);

}  // namespace ostrevane
