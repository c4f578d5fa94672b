// The launcher's restart rule (portable).
#include "package/launcher/restart_policy.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(RestartPolicyTest, BacksOffThenGivesUpWhenTheProxyKeepsEnding) {
  RestartPolicy policy;
  std::vector<int64_t> delays;
  for (int i = 0; i < RestartPolicy::kMaxRestarts + 3; ++i) delays.push_back(policy.NextDelayMs(10));
  // kMaxRestarts pauses, each at least the one before and doubling until the cap, then -1 for good.
  ASSERT_EQ(delays.size(), static_cast<size_t>(RestartPolicy::kMaxRestarts + 3));
  EXPECT_EQ(delays[0], RestartPolicy::kFirstDelayMs);
  for (int i = 1; i < RestartPolicy::kMaxRestarts; ++i) {
    EXPECT_EQ(delays[i], std::min<int64_t>(delays[i - 1] * 2, RestartPolicy::kMaxDelayMs)) << i;
    EXPECT_GT(delays[i], 0);
  }
  for (int i = RestartPolicy::kMaxRestarts; i < RestartPolicy::kMaxRestarts + 3; ++i) EXPECT_EQ(delays[i], -1) << i;
}

TEST(RestartPolicyTest, ALongRunStartsAFreshCount) {
  RestartPolicy policy;
  for (int i = 0; i < RestartPolicy::kMaxRestarts - 1; ++i) ASSERT_GT(policy.NextDelayMs(0), 0);
  EXPECT_EQ(policy.NextDelayMs(RestartPolicy::kStableRunMs), RestartPolicy::kFirstDelayMs);
  EXPECT_EQ(policy.Restarts(), 1);
  // A run just short of stable does not.
  EXPECT_EQ(policy.NextDelayMs(RestartPolicy::kStableRunMs - 1), RestartPolicy::kFirstDelayMs * 2);
  EXPECT_EQ(policy.Restarts(), 2);
}

TEST(RestartPolicyTest, TotalPauseBeforeGivingUpIsBounded) {
  RestartPolicy policy;
  int64_t total = 0;
  for (int64_t d; (d = policy.NextDelayMs(0)) >= 0;) total += d;
  EXPECT_EQ(policy.Restarts(), RestartPolicy::kMaxRestarts);
  EXPECT_LE(total, static_cast<int64_t>(RestartPolicy::kMaxRestarts) * RestartPolicy::kMaxDelayMs);
}

}  // namespace
