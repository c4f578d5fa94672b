// When the launcher starts the proxy again after it ended. Portable.
#pragma once

#include <cstdint>

class RestartPolicy {
 public:
  // At most this many restarts in a row; a run that lasted kStableRunMs or more
  // starts a fresh count.
  static constexpr int kMaxRestarts = 5;
  static constexpr uint64_t kStableRunMs = 30000;
  static constexpr uint32_t kFirstDelayMs = 200;
  static constexpr uint32_t kMaxDelayMs = 3200;

  // The proxy ended after running ranMs (0 when it could not be started).
  // Returns the pause before the next start, or -1 when the launcher gives up.
  int64_t NextDelayMs(uint64_t ranMs);
  int Restarts() const { return restarts_; }

 private:
  int restarts_ = 0;
};
