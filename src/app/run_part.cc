#include "app/run_part.h"

#include <charconv>

#include "common/error.h"
#include "common/text.h"

namespace ostrevane {
namespace {

constexpr int kMaxParts = 1000000;

// A decimal number without sign or blanks, 1..kMaxParts; 0 for anything else.
int PartNumber(std::string_view text) {
  int value = 0;
  if (text.empty() || text.size() > 7) return 0;
  for (char c : text)
    if (c < '0' || c > '9') return 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value <= kMaxParts ? value : 0;
}

}  // namespace

std::string RunPart::NameSuffix() const {
  if (!given) return {};
  return Concat({".", std::to_string(k), "of", std::to_string(n)});
}

RunPart ParseRunPart(std::string_view value) {
  const size_t slash = value.find('/');
  RunPart part;
  if (slash != std::string_view::npos) {
    part.k = PartNumber(value.substr(0, slash));
    part.n = PartNumber(value.substr(slash + 1));
  } else {
    part.k = part.n = 0;
  }
  if (part.k < 1 || part.n < 1 || part.k > part.n)
    throw Exception("switch -part: \"" + std::string(value) +
                    "\" is not K/N with 1 <= K <= N (for example -part:3/8)");
  part.given = true;
  return part;
}

std::vector<Job> JobsOfPart(const std::vector<Job>& jobs, const RunPart& part) {
  std::vector<Job> out;
  for (const Job& job : jobs)
    if (part.Runs(job)) out.push_back(job);
  return out;
}

}  // namespace ostrevane
