// A scope guard: runs an action when the scope it lives in ends, by return or by an error, so
// that state a function changed for its own work is put back on every path.
#pragma once

#include <utility>

namespace rt {

// Runs `action` once at destruction. The action must not raise (it runs during unwinding);
// one that can fail catches its own errors. Neither copied nor moved.
template <typename Action>
class ScopeExit {
 public:
  explicit ScopeExit(Action action) : action_(std::move(action)) {}
  ~ScopeExit() { action_(); }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  Action action_;
};

}  // namespace rt
