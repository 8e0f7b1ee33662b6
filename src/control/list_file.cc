#include "control/list_file.h"

#include "common/error.h"
#include "common/text.h"
#include "control/cut_token.h"
#include "control/job_files.h"

namespace ostrevane {

std::vector<tRec> ReadListFile(const std::string& name, const OptionContext& ctx) {
  if (IsBlank(name)) throw Exception("list file can not be empty");
  // A relative name is taken from the working directory; the untrimmed name
  // is the one opened.
  const std::string text = ReadTextFile(name);
  const std::string_view all(text);

  std::vector<tRec> jobs;
  int line_no = 0;
  size_t start = 0;
  while (start < all.size()) {
    // Lines end at CR LF, LF or CR.
    size_t end = all.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = all.size();
    const std::string_view raw = all.substr(start, end - start);
    start = end;
    if (start < all.size()) start += (all[start] == '\r' && start + 1 < all.size() &&
                                      all[start + 1] == '\n') ? 2 : 1;
    ++line_no;

    if (IsBlank(raw)) continue;  // spaces, tabs and other control characters only
    tRec& rec = jobs.emplace_back();
    ClearRec(rec);
    rec.line = Trim(raw);
    rec.line_no = line_no;
    // Tokens at single spaces; double quotes keep spaces inside one token.
    // Two spaces give an empty token, which changes nothing.
    std::string_view rest(rec.line);
    while (!rest.empty()) ParseOption(CutToken(rest, " ", "\""), rec, ctx);
  }
  return jobs;
}

}  // namespace ostrevane
