#include "vantir3/numeric/running_window.h"

#include <algorithm>
#include <cmath>
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

// The truncated mean in single precision, for windows of c <= 128 samples:
// |S| <= 32768 c <= 2^22 is exact as a float, and r, the smallest float
// >= 1 / c, lies below (1 / c)(1 + 2^-23 + 2^-45). Take m = S / c and
// q = S * r rounded to a float; rounding is monotonic and symmetric, so
// consider S >= 0. S r >= m >= floor(m), a float, so q >= floor(m). A whole
// m <= 32768 has q <= m + 1/2 (S r - m < 2^15 * 2^-22.9), so q truncates to
// m. Otherwise m <= K - 1/c with K = floor(m) + 1 <= 32768, and S r <
// K - 2^-7 + 2^-7.9 < K - 2^-9, below the float next under K (at least
// K - 2^-9): q < K. So q truncates to floor(m), the scalar path's mean.
float RoundedUpInverse(int32_t c) {
    float r = static_cast<float>(1.0 / c);
    // r * c is exact in double (24 and 17 significant bits).
    if (static_cast<double>(r) * c < 1.0) r = std::nextafter(r, 2.0f);
    return r;
}
}  // namespace

bool RunningWindow::Reserve(int32_t n, int32_t half) {
    n_ = n > 0 ? n : 0;
    h_ = half < n_ - 1 ? half : (n_ > 0 ? n_ - 1 : 0);
    if (h_ < 0) h_ = 0;
    prefixStorage_.reset();
    prefix_ = nullptr;
    counts_.reset();
    inverse_.reset();
    floatInverse_.reset();
    if (n_ == 0 || Widest() > kMaxVectorWindow) return true;
    const size_t h = static_cast<size_t>(h_), size = static_cast<size_t>(n_) + kPadding;
    // Entries ahead of prefix_ that bring prefix_ + h + 1 to a 64-byte boundary.
    const size_t lead = (16 - (h + 1) % 16) % 16;
    prefixStorage_ = NewScratch<int32_t>(lead + 2 * h + size);
    counts_ = NewScratch<int32_t>(size);
    inverse_ = NewScratch<double>(size);
    if (Widest() <= kFloatMeanWindow) floatInverse_ = NewScratch<float>(size);
    if (!prefixStorage_ || !counts_ || !inverse_ || (Widest() <= kFloatMeanWindow && !floatInverse_)) {
        prefixStorage_.reset();
        return false;
    }
    prefix_ = prefixStorage_.get() + lead;
    std::memset(prefix_, 0, sizeof(int32_t) * h);
    // Past the trace (the padding), windows of one sample: any value serves.
    // The inverses are worked out once per window size (the sizes inside the
    // trace are all one): a division per sample cost as much as the window
    // pass itself on the short runs of traces a host asks for at a time.
    int32_t last = 0;
    double inverse = 0.0;
    float floatInverse = 0.0f;
    for (size_t i = 0; i < size; ++i) {
        const int64_t upper = std::min<int64_t>(static_cast<int64_t>(i) + h_ + 1, n_);
        const int64_t lower = std::max<int64_t>(static_cast<int64_t>(i) - h_, 0);
        const int32_t c = i < static_cast<size_t>(n_) ? static_cast<int32_t>(upper - lower) : 1;
        if (c != last) {
            last = c;
            inverse = (1.0 / c) * kTruncationNudge;
            if (floatInverse_) floatInverse = RoundedUpInverse(c);
        }
        counts_[i] = c;
        inverse_[i] = inverse;
        if (floatInverse_) floatInverse_[i] = floatInverse;
    }
    return true;
}

}  // namespace vantir3
