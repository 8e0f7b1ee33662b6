// "-part:K/N": one of N processes that share one list. After the whole list
// is read and expanded, part K runs the jobs numbered K, K+N, K+2N, ...
// (job j when (j - 1) mod N == K - 1), so N parts run every job exactly
// once between them. Job numbers stay those of the whole list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "control/job.h"

namespace ostrevane {

struct RunPart {
  int k = 1;
  int n = 1;
  bool given = false;  // -part was on the command line

  // ".3of8" for a given part, "" otherwise: goes into the names of the log,
  // error and result files.
  std::string NameSuffix() const;
  bool Runs(const Job& job) const { return (job.run_number - 1) % n == k - 1; }
};

// Reads the value of -part. Raises Exception naming the switch for anything
// but two decimal numbers "K/N" with 1 <= K <= N <= 1000000.
RunPart ParseRunPart(std::string_view value);

// The jobs of `jobs` that the part runs, in list order.
std::vector<Job> JobsOfPart(const std::vector<Job>& jobs, const RunPart& part);

}  // namespace ostrevane
