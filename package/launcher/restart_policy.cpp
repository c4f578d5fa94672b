#include "package/launcher/restart_policy.h"

int64_t RestartPolicy::NextDelayMs(uint64_t ranMs) {
  if (ranMs >= kStableRunMs) restarts_ = 0;
  if (restarts_ >= kMaxRestarts) return -1;
  uint32_t delay = kFirstDelayMs;
  for (int i = 0; i < restarts_ && delay < kMaxDelayMs; ++i) delay *= 2;
  ++restarts_;
  return delay < kMaxDelayMs ? delay : kMaxDelayMs;
}
