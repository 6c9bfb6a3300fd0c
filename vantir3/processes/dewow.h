// Dewow: removes the slowly varying low-frequency component ("wow") of each
// trace by subtracting a centred running mean along axis 0. The width of the
// mean is given in transmit pulse widths. The running window defined here is
// shared with the AGC gain.
#ifndef VANTIR3_PROCESSES_DEWOW_H_
#define VANTIR3_PROCESSES_DEWOW_H_

#include <cmath>
#include <cstdint>
#include <memory>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/param_table.h"
#include "vantir3/processes/trace_kernels.h"

namespace vantir3 {
extern const ProcessDecl kDewowDecl;

// Half width, in samples, of a running window `window` transmit pulse widths
// wide: w = floor(1500 * window / antennaFrequency / sampleInterval) converted
// to a 32-bit integer by truncation, where a value that is not a number or
// lies beyond the 32-bit range (a zero or non-finite frequency or interval)
// converts to the most negative 32-bit value; an even w (zero included) is
// made odd by adding 1; half = (w - 1) / 2, and 0 when that is negative. So a
// zero, negative or unusable frequency or interval gives a one-sample window.
int32_t RunningMeanHalf(double window, double antennaFrequency, double sampleInterval);

// The centred running window over traces of n samples: the window of sample i
// spans samples max(0, i - half) ... min(n - 1, i + half), so it shrinks at
// both ends of a trace. Its sums are exact whole numbers (at most 2^47 in
// size), so the incremental double sums of the scalar path and the prefix
// sums of the vector path give the same values, and so the same means.
class RunningWindow {
public:
    // Prepares for traces of n >= 1 samples at the given level. The vector
    // path is taken at the AVX-512 level when every window sum fits in 32
    // bits (windows of at most 65535 samples); false when its memory cannot
    // be had.
    bool Reserve(int32_t n, int32_t half, SimdLevel level);
    int32_t Size() const { return n_; }
    // The half width, limited to n - 1 (a wider window covers the whole trace
    // for every sample, as this one does).
    int32_t Half() const { return h_; }
    bool Vector() const { return vector_; }

    // Scalar path: calls f(i, sum, count) for i = 0 ... n - 1 with the sum of
    // the window's samples (of their magnitudes when Absolute) and their
    // number, as doubles: the first min(half + 1, n) samples are added, then
    // after each sample the one at i - half leaves (from i = half on) and the
    // one at i + 1 + half enters (while i < n - 1 - half).
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

    // Vector path, per sample (n entries, readable 16 beyond): the number of
    // samples c of its window; and (1 / c) * (1 + 2^-40), with which the
    // truncation of sum * it is exactly that of the mean sum / c, for dewow.
    const int32_t* Counts() const { return counts_.get(); }
    const double* TruncatingInverses() const { return inverse_.get(); }

#if defined(VANTIR3_HAVE_AVX512_PATH)
    // Vector path: calls block(i0, m, sums) for the blocks of sixteen samples
    // i0 = 0, 16, ... of the trace x, with m marking the samples that exist
    // (all of them but in the last block) and sums the window sums of those
    // samples (of |x| when absolute) as 32-bit integers; where two full
    // blocks follow each other under the same rule, block.Pair(i0, sums0,
    // sums1) takes both (a kernel may settle two blocks with one test of
    // their rare cases). The prefix sums of the whole trace are taken first,
    // then the blocks find it in the cache. (Running the scan only a little
    // ahead of the blocks measured slower on large data.) Each step of full
    // blocks prefetches the same place one trace further on, the next trace
    // where traces follow each other in memory: spread over the blocks, the
    // reads of the next trace overlap the arithmetic, where a prefetch in the
    // fast scan came in bursts and left the scan waiting for memory.
    template <class Block>
    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) void Stream(const int16_t* x, bool absolute,
                                                                    Block& block) const {
        // Locals, so that the stores of the prefix sums do not make the
        // compiler reload the members.
        const int32_t n = n_;
        const int32_t h = h_;
        const int32_t* base = prefix_;
        int32_t* p = prefix_ + h;
        p[0] = 0;
        __m512i carry = _mm512_setzero_si512();
        int32_t k = 0;
        for (; k + 32 <= n; k += 32) carry = avx512::ScanPairBlock(x, k, absolute, p, carry);
        for (; k + 16 <= n; k += 16) carry = avx512::ScanBlock(x, k, 0xFFFF, absolute, p, carry);
        if (k < n) avx512::ScanBlock(x, k, avx512::FirstLanes(n - k), absolute, p, carry);
        const __m512i total = _mm512_set1_epi32(p[n]);
        int32_t i0 = 0;
        const uintptr_t nextTrace = 2 * static_cast<uintptr_t>(n);  // bytes
        const __mmask16 all = 0xFFFF;
        // Blocks whose windows all end inside the trace: plain loads.
        for (; i0 + 32 <= n - h; i0 += 32) {
            avx512::PrefetchAhead(x + i0, nextTrace);
            block.Pair(i0, InnerSums(base, h, i0), InnerSums(base, h, i0 + 16));
        }
        for (; i0 + 16 <= n - h; i0 += 16) {
            avx512::PrefetchAhead(x + i0, nextTrace);
            block(i0, all, InnerSums(base, h, i0));
        }
        for (; i0 < n - h && i0 + 16 <= n; i0 += 16) {
            avx512::PrefetchAhead(x + i0, nextTrace);
            block(i0, all, WindowSums(base, n, h, total, i0, all));
        }
        // Blocks whose windows all reach the end of the trace.
        for (; i0 + 32 <= n; i0 += 32) {
            avx512::PrefetchAhead(x + i0, nextTrace);
            block.Pair(i0, _mm512_sub_epi32(total, _mm512_loadu_si512(base + i0)),
                       _mm512_sub_epi32(total, _mm512_loadu_si512(base + i0 + 16)));
        }
        for (; i0 + 16 <= n; i0 += 16) {
            avx512::PrefetchAhead(x + i0, nextTrace);
            block(i0, all, _mm512_sub_epi32(total, _mm512_loadu_si512(base + i0)));
        }
        if (i0 < n) {
            const __mmask16 m = avx512::FirstLanes(n - i0);
            block(i0, m, WindowSums(base, n, h, total, i0, m));
        }
    }
#endif

private:
#if defined(VANTIR3_HAVE_AVX512_PATH)
    // Sums of the windows of samples i0 ... i0 + 15, all of which end inside
    // the trace; base is the padded prefix array.
    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) static __m512i InnerSums(const int32_t* base, int32_t h,
                                                                                 int32_t i0) {
        return _mm512_sub_epi32(_mm512_loadu_si512(base + i0 + 2 * h + 1), _mm512_loadu_si512(base + i0));
    }
    // Sums of the windows of samples i0 ... i0 + 15 (those in m); base is
    // the padded prefix array, total its last entry in every lane.
    VANTIR3_TARGET_AVX512 __attribute__((always_inline)) static __m512i WindowSums(
        const int32_t* base, int32_t n, int32_t h, __m512i total, int32_t i0, __mmask16 m) {
        // Windows that reach the end of the trace end at its total.
        const __mmask16 inside = m & avx512::FirstLanes(int64_t{n} - h - i0);
        const __m512i upper = _mm512_mask_loadu_epi32(total, inside, base + i0 + 2 * h + 1);
        return _mm512_sub_epi32(upper, _mm512_maskz_loadu_epi32(m, base + i0));
    }
#endif

    int32_t n_ = 0;
    int32_t h_ = 0;
    bool vector_ = false;
    // prefix_[h + j] = x[0] + ... + x[j - 1] (modulo 2^32) for j = 0 ... n,
    // after h zeros, so that the sum of the window of sample i is
    // prefix_[i + 2h + 1] - prefix_[i], with the total prefix_[h + n]
    // standing for the entries beyond the last. prefix_ lies inside
    // prefixStorage_ where prefix_ + h + 1, the first entry that the scan
    // stores, starts a cache line: every full-width store of the scan is
    // then aligned. The allocation reaches 16 entries beyond every address
    // that a (masked) load starts from.
    Scratch<int32_t> prefixStorage_;
    int32_t* prefix_ = nullptr;
    Scratch<int32_t> counts_;  // n entries, 16 more allocated, as below
    Scratch<double> inverse_;
};

// Dewow of one trace of window.Size() samples (x and y must not overlap):
// y[i] = SubtractSaturated16(x[i], m) with m the mean of the window of
// sample i truncated toward zero. With sums (may be null), y[i] is also
// added to sums[i]; 32-bit sums hold the outputs of up to 65535 traces.
void DewowTrace(const RunningWindow& window, const int16_t* x, int16_t* y, int32_t* sums = nullptr);

// Dewow over the common region of in and out, with a window `window`
// transmit pulse widths wide (only the product of frequency and interval
// counts). With an averaged-trace buffer, the mean of the dewowed traces of
// the region (sum over all traces and planes divided by their number,
// truncated toward zero) is written as max0 - min0 + 1 contiguous 16-bit
// samples from that buffer's cursor, its strides unused; a buffer that has
// no storage or too little room from its cursor to the end of its storage is
// refused with kAuxTooSmall (-8) before any sample is written. Otherwise
// results as for every buffer walk (0, 1, -1, -2, -3, -6); -1 also when the
// per-call scratch memory cannot be had.
int Dewow(MeboDataPtr& out, const MeboDataPtr& in, MeboDataPtr* average, double window,
          double antennaFrequency, double sampleInterval);
}  // namespace vantir3

// The dewow process ("DEWOW@"): Dewow with the auxiliary buffer that
// ProcessData is given as the averaged trace (none through GetDataCdp).
class CCdpPrcDewow : public vantir3::CTableProcess {
public:
    CCdpPrcDewow();
    int ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) override;

private:
    double* ParamSlot(uint32_t index) override;

    double window_;
};

#endif  // VANTIR3_PROCESSES_DEWOW_H_
