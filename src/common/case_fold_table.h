// The data of simple case folding, generated into case_fold_table.cc.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ostrevane {

// The code points first, first + stride, ..., last each fold to themselves
// plus delta. Runs are sorted by first and do not overlap.
struct CaseFoldRun {
  char32_t first;
  char32_t last;
  int32_t stride;
  int32_t delta;
};

extern const CaseFoldRun kCaseFoldRuns[];
extern const size_t kCaseFoldRunCount;

}  // namespace ostrevane
