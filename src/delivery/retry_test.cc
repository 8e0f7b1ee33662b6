#include "delivery/retry.h"

#include <gtest/gtest.h>

#include <vector>

namespace ostrevane::delivery {
namespace {

using std::chrono::milliseconds;

// Time moves only when the code under test waits.
class FakeClock : public RetryClock {
 public:
  std::chrono::steady_clock::time_point Now() override { return start_ + slept_; }
  bool Sleep(milliseconds wait) override {
    waits.push_back(wait);
    slept_ += wait;
    return !stop;
  }
  std::vector<milliseconds> waits;
  bool stop = false;

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  milliseconds slept_{0};
};

DeliveryError Transient() { return DeliveryError(Error("EFTPError", "421 busy"), true); }
DeliveryError Permanent() { return DeliveryError(Error("EFTPError", "550 no such folder"), false); }

struct RetryTest : ::testing::Test {
  FakeClock clock;
  std::vector<std::string> notes;
  RetryPolicy policy;
  std::vector<long> attempts;  // the time left that each try was given

  void SetUp() override {
    policy.clock = &clock;
    policy.note = [this](const std::string& n) { notes.push_back(n); };
  }
  // Runs a delivery whose tries fail as `failures` says, then succeed.
  std::string Run(const std::vector<DeliveryError>& failures, long total_ms = 0) {
    try {
      RunWithRetries("FTP", total_ms, policy, [&](long left) {
        attempts.push_back(left);
        if (attempts.size() <= failures.size()) throw failures[attempts.size() - 1];
      });
    } catch (const Error& e) {
      return e.class_name() + ": " + e.what();
    }
    return "";
  }
};

TEST(RetryDelayTest, DoublesFromTheFirstDelayUpToTenMinutes) {
  RetryPolicy p;
  p.first_delay = milliseconds(30000);
  const long expected[] = {30000, 60000, 120000, 240000, 480000, 600000, 600000};
  for (int retry = 1; retry <= 7; ++retry)
    EXPECT_EQ(RetryDelay(p, retry).count(), expected[retry - 1]) << retry;
  p.first_delay = milliseconds(0);
  EXPECT_EQ(RetryDelay(p, 5).count(), 0);
  p.first_delay = milliseconds(900000);  // more than the cap from the start
  EXPECT_EQ(RetryDelay(p, 1).count(), 600000);
}

TEST_F(RetryTest, TwoTransientFailuresAreOutwaitedWithDoublingWaitsAndANoteEach) {
  policy.retries = 3;
  EXPECT_EQ(Run({Transient(), Transient()}), "");
  EXPECT_EQ(attempts.size(), 3u);
  EXPECT_EQ(clock.waits, (std::vector<milliseconds>{milliseconds(30000), milliseconds(60000)}));
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0], "FTP delivery failed, trying again in 30 s (retry 1 of 3): 421 busy");
  EXPECT_EQ(notes[1], "FTP delivery failed, trying again in 60 s (retry 2 of 3): 421 busy");
}

TEST_F(RetryTest, APermanentFailureOrNoRetriesMeansOneTry) {
  policy.retries = 3;
  EXPECT_EQ(Run({Permanent()}), "EFTPError: 550 no such folder");
  EXPECT_EQ(attempts.size(), 1u);
  policy.retries = 0;
  attempts.clear();
  EXPECT_EQ(Run({Transient()}), "EFTPError: 421 busy");
  EXPECT_EQ(attempts.size(), 1u);
  EXPECT_TRUE(notes.empty());
  EXPECT_TRUE(clock.waits.empty());
}

TEST_F(RetryTest, UsedUpRetriesThrowTheLastFailure) {
  policy.retries = 2;
  EXPECT_EQ(Run({Transient(), Transient(), DeliveryError(Error("EFTPError", "timed out"), true)}),
            "EFTPError: timed out");
  EXPECT_EQ(attempts.size(), 3u);
  EXPECT_EQ(notes.size(), 2u);
}

TEST_F(RetryTest, OtherErrorsAreNeverRetried) {
  policy.retries = 3;
  int tries = 0;
  EXPECT_THROW(RunWithRetries("HTTP", 0, policy,
                              [&](long) {
                                ++tries;
                                throw Error("EFOpenError", "Cannot open file");
                              }),
               Error);
  EXPECT_EQ(tries, 1);
}

TEST_F(RetryTest, TriesAndWaitsShareTheDeliveryTimeout) {
  policy.retries = 5;
  // 100 s in all: 30 s and 60 s of waits fit, the 120 s wait would not.
  const std::string failure = Run({Transient(), Transient(), Transient(), Transient()}, 100000);
  EXPECT_EQ(failure,
            "EFTPError: 421 busy (not tried again: a wait of 120 s would pass the "
            "delivery_timeout of 100 s)");
  EXPECT_EQ(attempts, (std::vector<long>{100000, 70000, 10000}));
  EXPECT_EQ(notes.size(), 2u);
}

TEST_F(RetryTest, AStopDuringAWaitEndsTheDeliveryWithItsFailure) {
  policy.retries = 3;
  clock.stop = true;
  EXPECT_EQ(Run({Transient(), Transient()}), "EFTPError: 421 busy");
  EXPECT_EQ(attempts.size(), 1u);
}

}  // namespace
}  // namespace ostrevane::delivery
