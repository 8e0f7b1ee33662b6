#include "control/list_file.h"

#include "common/error.h"
#include "common/sha256.h"
#include "common/text.h"
#include "common/text_file.h"
#include "control/cut_field.h"
#include "control/job_files.h"

namespace ostrevane {

std::string ListLocation(const std::string& list_name, int line) {
  return (list_name.empty() ? "" : list_name + ", ") + "line " + std::to_string(line) + ": ";
}

std::vector<Job> ReadListLines(const std::string& name, const OptionContext& ctx,
                               std::vector<std::string>* problems, std::string* sha256) {
  if (IsBlank(name)) throw Exception("list file can not be empty");
  // A relative name is taken from the working directory; the untrimmed name
  // is the one opened.
  const std::string bytes = ReadWholeFile(name);
  if (sha256) *sha256 = Sha256Hex(bytes);
  const std::string text = DecodeWholeFile(bytes, name);
  const std::string_view all(text);

  // Lines end at CR LF, LF or CR.
  auto line_end = [&](size_t from) {
    while (from < all.size() && all[from] != '\r' && all[from] != '\n') ++from;
    return from;
  };
  auto next_line = [&](size_t end) {
    if (end < all.size() && all[end] == '\r' && end + 1 < all.size() && all[end + 1] == '\n')
      return end + 2;
    return end + 1;
  };
  // Records are large: reserve once for the jobs rather than move them all
  // each time the list grows.
  // Blank lines and comments (first non-blank character "#" or ";") are no
  // jobs; they still count for the line numbers of messages.
  auto is_job_line = [](std::string_view raw) {
    const std::string text = Trim(raw);
    return !text.empty() && text[0] != '#' && text[0] != ';';
  };
  size_t lines = 0;
  for (size_t at = 0; at < all.size();) {
    const size_t end = line_end(at);
    if (is_job_line(all.substr(at, end - at))) ++lines;
    at = next_line(end);
  }

  std::vector<Job> jobs;
  jobs.reserve(lines);
  int line_no = 0;
  for (size_t start = 0; start < all.size();) {
    const size_t end = line_end(start);
    const std::string_view raw = all.substr(start, end - start);
    start = next_line(end);
    ++line_no;

    if (!is_job_line(raw)) continue;
    Job& job = jobs.emplace_back();
    ResetOptions(job);
    job.list_line = Trim(raw);
    job.list_line_number = line_no;
    // Tokens at single spaces; double quotes keep spaces inside one token.
    // Two spaces give an empty token, which changes nothing.
    std::string_view rest(job.list_line);
    try {
      while (!rest.empty()) {
        const std::string_view from = rest;
        std::string token;
        try {
          token = CutField(rest, " ", "\"");
        } catch (const Error&) {
          throw UnclosedQuote(from, rest);
        }
        ApplyOption(token, job, ctx);
      }
    } catch (const Error& e) {
      const Error located = e.WithPrefix(ListLocation(name, line_no));
      if (!problems) throw located;
      problems->push_back(located.class_name() + ": " + located.message());
    }
  }
  return jobs;
}

}  // namespace ostrevane
