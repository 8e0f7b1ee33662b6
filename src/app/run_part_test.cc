#include "app/run_part.h"

#include <gtest/gtest.h>

#include "common/error.h"

namespace ostrevane {
namespace {

TEST(RunPartTest, ReadsKOfNAndRefusesEverythingElse) {
  const RunPart p = ParseRunPart("3/8");
  EXPECT_EQ(p.k, 3);
  EXPECT_EQ(p.n, 8);
  EXPECT_EQ(p.NameSuffix(), ".3of8");
  EXPECT_EQ(RunPart{}.NameSuffix(), "");
  EXPECT_EQ(ParseRunPart("1/1").NameSuffix(), ".1of1");
  for (const char* bad : {"", "3", "/", "0/1", "2/1", "1/0", "-1/2", "+1/2", " 1/2", "1/2 ",
                          "1/2/3", "a/2", "1.0/2", "1/99999999", "0x1/2"}) {
    try {
      ParseRunPart(bad);
      ADD_FAILURE() << bad;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("-part"), std::string::npos) << bad;
    }
  }
}

// N parts run every job exactly once, whatever N and the number of jobs.
TEST(RunPartTest, PartsCoverEveryJobOnce) {
  for (int jobs : {1, 2, 7, 20}) {
    std::vector<Job> list(jobs);
    for (int j = 0; j < jobs; ++j) list[j].run_number = j + 1;
    for (int n : {1, 2, 3, 7, 25}) {
      std::vector<int> runs(jobs + 1, 0);
      for (int k = 1; k <= n; ++k) {
        RunPart part;
        part.k = k, part.n = n, part.given = true;
        int last = 0;
        for (const Job& job : JobsOfPart(list, part)) {
          EXPECT_GT(job.run_number, last);  // list order kept
          last = job.run_number;
          ++runs[job.run_number];
          EXPECT_EQ((job.run_number - 1) % n, k - 1);
        }
      }
      for (int j = 1; j <= jobs; ++j) EXPECT_EQ(runs[j], 1) << jobs << " " << n << " " << j;
    }
  }
}

}  // namespace
}  // namespace ostrevane
