#include "base/instruction_set.h"

#include <atomic>
#include <cstdlib>

namespace plenoview {

namespace {

bool cpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

bool baselineAsked() {
  const char* value = std::getenv("PLENOVIEW_BASELINE_ONLY");
  return value != nullptr && *value != '\0' && *value != '0';
}

std::atomic<bool>& allowedFlag() {
  static std::atomic<bool> allowed(!baselineAsked());
  return allowed;
}

}  // namespace

bool useAvx2() {
  static const bool available = cpuHasAvx2();
  return available && allowedFlag().load(std::memory_order_relaxed);
}

void allowAvx2(bool allowed) { allowedFlag().store(allowed, std::memory_order_relaxed); }

}  // namespace plenoview
