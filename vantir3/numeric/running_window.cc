#include "vantir3/numeric/running_window.h"

#include <cstddef>
#include <cstring>

namespace vantir3 {

namespace {
// The largest window whose sums of 16-bit samples fit in 32 bits.
constexpr int64_t kMaxVectorWindow = 65535;

// The truncated mean without a division. With q = S * ((1 / c) * (1 + 2^-40))
// (each step rounded), q = (S / c) * (1 + 2^-40 + e) with |e| < 2^-51, so |q|
// exceeds |S / c| by less than 32768 * 2^-39 = 2^-24. A whole-number mean
// k != 0 thus gives |k| < |q| < |k| + 1, and a mean that is not a whole
// number lies at least 1 / c >= 2^-16 below the next whole number in
// magnitude, which q does not reach: q truncates to exactly the truncation of
// the correctly rounded S / c, the scalar path's mean (sums of 0 give 0).
constexpr double kTruncationNudge = 1.0 + 0x1p-40;
}  // namespace

bool RunningWindow::Reserve(int32_t n, int32_t half, SimdPath level) {
    n_ = n > 0 ? n : 0;
    h_ = half < n_ - 1 ? half : (n_ > 0 ? n_ - 1 : 0);
    if (h_ < 0) h_ = 0;
    const int64_t widest = 2 * int64_t{h_} + 1 < n_ ? 2 * int64_t{h_} + 1 : n_;
    vector_ = false;
#if defined(VANTIR3_HAVE_AVX512_PATH)
    vector_ = level == SimdPath::kAvx512 && widest <= kMaxVectorWindow;
#else
    (void)level;
    (void)widest;
#endif
    prefixStorage_.reset();
    prefix_ = nullptr;
    counts_.reset();
    inverse_.reset();
    if (!vector_) return true;
    // Entries ahead of prefix_ that bring prefix_ + h + 1 to a 64-byte boundary.
    const size_t lead = (16 - (static_cast<size_t>(h_) + 1) % 16) % 16;
    prefixStorage_ = NewScratch<int32_t>(lead + static_cast<size_t>(n_) + 2 * static_cast<size_t>(h_) + 17);
    counts_ = NewScratch<int32_t>(static_cast<size_t>(n_) + 16);
    inverse_ = NewScratch<double>(static_cast<size_t>(n_) + 16);
    if (!prefixStorage_ || !counts_ || !inverse_) return false;
    prefix_ = prefixStorage_.get() + lead;
    std::memset(prefix_, 0, sizeof(int32_t) * static_cast<size_t>(h_));
    for (int32_t i = 0; i < n_; ++i) {
        const int32_t upper = i + h_ + 1 < n_ ? i + h_ + 1 : n_;
        const int32_t lower = i - h_ > 0 ? i - h_ : 0;
        counts_[i] = upper - lower;
        inverse_[i] = (1.0 / counts_[i]) * kTruncationNudge;
    }
    return true;
}

}  // namespace vantir3
