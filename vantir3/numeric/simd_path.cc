#include "vantir3/numeric/simd_path.h"

#include <atomic>

#include "hwy/targets.h"

namespace vantir3 {

namespace {
// Highway's detection of this processor's targets (or the forced one), kept:
// asking Highway again would run the processor's identification instruction,
// which a virtual machine traps. 0 until the first call.
std::atomic<int64_t> supportedTargets{0};

int64_t Supported() {
    int64_t targets = supportedTargets.load(std::memory_order_relaxed);
    if (targets == 0) {
        targets = hwy::SupportedTargets();
        supportedTargets.store(targets, std::memory_order_relaxed);
    }
    return targets;
}
}  // namespace

int64_t SimdTargets() { return Supported() & HWY_TARGETS; }

void ForceSimdTarget(int64_t target) {
    hwy::SetSupportedTargetsForTest(target);
    supportedTargets.store(hwy::SupportedTargets(), std::memory_order_relaxed);
}

const char* SimdTargetName(int64_t target) { return hwy::TargetName(target); }

}  // namespace vantir3
