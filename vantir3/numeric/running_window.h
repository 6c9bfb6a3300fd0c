// The centred running window along a trace, shared by dewow and the AGC
// gain: the sum of the samples (or of their magnitudes) within half samples
// either side of every sample, by an incremental scalar walk or, in the
// vector kernels, from prefix sums (running_window-inl.h).
#ifndef VANTIR3_NUMERIC_RUNNING_WINDOW_H_
#define VANTIR3_NUMERIC_RUNNING_WINDOW_H_

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "vantir3/numeric/scratch.h"

namespace vantir3 {

// The centred running window over traces of n samples: the window of sample i
// spans samples max(0, i - half) ... min(n - 1, i + half), so it shrinks at
// both ends of a trace. Its sums are exact whole numbers (at most 2^47 in
// size), so the incremental double sums of the scalar walk and the prefix
// sums of the vector kernels give the same values, and so the same means.
class RunningWindow {
public:
    // Entries that every per-position table holds beyond the trace's n: four
    // vectors of 32-bit lanes on any target (2048-bit vectors at most), so
    // that a block of two vectors starting before n reads whole vectors.
    static constexpr size_t kPadding = 256;
    // The widest window whose means the vector kernels take in single
    // precision (RoundedUpInverses).
    static constexpr int32_t kFloatMeanWindow = 128;

    // Prepares for traces of n >= 1 samples. The prefix sums of the vector
    // kernels are prepared when every window sum fits in 32 bits (windows of
    // at most 65535 samples); false when their memory cannot be had.
    bool Reserve(int32_t n, int32_t half);
    int32_t Size() const { return n_; }
    // The half width, limited to n - 1 (a wider window covers the whole trace
    // for every sample, as this one does).
    int32_t Half() const { return h_; }
    // The number of samples in the widest window.
    int32_t Widest() const { return 2 * h_ + 1 < n_ ? 2 * h_ + 1 : n_; }
    // Whether the vector kernels may run (the prefix sums are prepared).
    bool Vector() const { return prefix_ != nullptr; }

    // The scalar walk: calls f(i, sum, count) for i = 0 ... n - 1 with the
    // sum of the window's samples (of their magnitudes when Absolute) and
    // their number, as doubles: the first min(half + 1, n) samples are added,
    // then after each sample the one at i - half leaves (from i = half on)
    // and the one at i + 1 + half enters (while i < n - 1 - half).
    template <bool Absolute, class F>
    void ForEach(const int16_t* x, F&& f) const {
        auto value = [x](int32_t j) {
            const double v = static_cast<double>(x[j]);
            return Absolute ? std::abs(v) : v;
        };
        double sum = 0.0;
        double count = 0.0;
        const int32_t first = h_ + 1 < n_ ? h_ + 1 : n_;
        for (int32_t j = 0; j < first; ++j) {
            sum += value(j);
            count += 1.0;
        }
        for (int32_t i = 0; i < n_; ++i) {
            f(i, sum, count);
            if (i >= h_) {
                sum -= value(i - h_);
                count -= 1.0;
            }
            if (i < n_ - 1 - h_) {
                sum += value(i + 1 + h_);
                count += 1.0;
            }
        }
    }

    // Vector kernels, per sample (n entries, kPadding more readable): the
    // number of samples c of its window; and (1 / c) * (1 + 2^-40), with
    // which the truncation of sum * it is exactly that of the mean sum / c,
    // for dewow.
    const int32_t* Counts() const { return counts_.get(); }
    const double* TruncatingInverses() const { return inverse_.get(); }
    // Where Widest() <= kFloatMeanWindow (else null), per sample the
    // smallest float r >= 1 / c, with which the truncation of the float
    // product S * r is exactly that of the mean S / c (running_window.cc).
    const float* RoundedUpInverses() const { return floatInverse_.get(); }

    // The prefix array of the vector kernels: Prefix()[h + j] is the sum of
    // the samples 0 ... j - 1 (modulo 2^32) for j = 0 ... n, after h zeros,
    // and every entry beyond holds the total (n + h + kPadding entries from
    // Prefix() + h are writable). The sum of the window of sample i is then
    // Prefix()[i + 2h + 1] - Prefix()[i] for every i, the windows that reach
    // either end included. Prefix() + h + 1, the first entry that a scan
    // stores, starts a cache line. Written by each trace's scan (scratch of
    // a const window: a window serves one trace at a time).
    int32_t* Prefix() const { return prefix_; }

private:
    int32_t n_ = 0;
    int32_t h_ = 0;
    Scratch<int32_t> prefixStorage_;
    int32_t* prefix_ = nullptr;
    Scratch<int32_t> counts_;
    Scratch<double> inverse_;
    Scratch<float> floatInverse_;
};

}  // namespace vantir3

#endif  // VANTIR3_NUMERIC_RUNNING_WINDOW_H_
