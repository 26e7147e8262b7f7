#include "base/instruction_set.h"

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

}  // namespace

std::atomic<bool> detail::avx2InUse(cpuHasAvx2() && !baselineAsked());

void allowAvx2(bool allowed) {
  detail::avx2InUse.store(allowed && cpuHasAvx2(), std::memory_order_relaxed);
}

}  // namespace plenoview
