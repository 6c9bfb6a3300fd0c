#include "vantir3/processes/reductions.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "vantir3/framework/status.h"
#include "vantir3/framework/toolbox.h"

// What the per-line rules and the per-target kernels share, defined once.
#ifndef VANTIR3_PROCESSES_REDUCTIONS_ONCE_
#define VANTIR3_PROCESSES_REDUCTIONS_ONCE_
namespace vantir3 {
namespace {

// The lines of one plane: `lines` parallel lines along the reduced axis.
// Steps are in samples.
struct ReductionLines {
    const int16_t* in;
    int16_t* out;
    ptrdiff_t inStep;  // neighbours along the reduced axis
    ptrdiff_t outStep;
    ptrdiff_t inLine;  // neighbouring lines
    ptrdiff_t outLine;
    int32_t lines;
};

// ---- Min-max reduction: the line rule ---------------------------------------

constexpr int16_t kLoStart = 32767;
constexpr int16_t kHiStart = -32767;

struct MinMaxTable {
    std::unique_ptr<MinMaxSegment[]> seg;
    int32_t segments = 0;
};

// The single sample of a segment: the extreme of larger magnitude, the high
// one on a tie.
inline int16_t LargerMagnitude(int16_t lo, int16_t hi) {
    return std::abs(int32_t{lo}) > std::abs(int32_t{hi}) ? lo : hi;
}

// One line. `low` tells whether the low extreme was updated last; a pair is
// written in time order, the later extreme second.
void MinMaxLine(const int16_t* in, ptrdiff_t inStep, int16_t* out, ptrdiff_t outStep, int32_t ni,
                const MinMaxTable& t) {
    int16_t lo = kLoStart, hi = kHiStart;
    bool low = false;
    int32_t s = 0, o = 0;
    for (int32_t i = 0; i < ni && s < t.segments; ++i) {
        const int16_t x = in[i * inStep];
        if (x < lo) lo = x, low = true;
        if (x > hi) hi = x, low = false;
        if (i + 1 != t.seg[s].end) continue;
        if (t.seg[s].pair) {
            out[o * outStep] = low ? hi : lo;
            out[(o + 1) * outStep] = low ? lo : hi;
            o += 2;
        } else {
            out[o * outStep] = LargerMagnitude(lo, hi);
            o += 1;
        }
        ++s;
        lo = kLoStart;
        hi = kHiStart;
    }
}

// MinMaxLine on a vector of lines per state; low is 0 or -1 per line. (The

// ---- Average reduction: the line rule ---------------------------------------

struct AverageTable {
    std::unique_ptr<int32_t[]> end;
    std::unique_ptr<double[]> scale;  // per group, just above 1 / size (row kernel)
    int32_t groups = 0;
};

// The rounded mean of n samples summing to sum: exact halves move away from
// zero.
inline int16_t RoundedMean(int64_t sum, int64_t n) {
    return static_cast<int16_t>(sum >= 0 ? (sum + n / 2) / n : (sum - n / 2) / n);
}

void AverageLine(const int16_t* in, ptrdiff_t inStep, int16_t* out, ptrdiff_t outStep,
                 const AverageTable& t) {
    int32_t i = 0;
    for (int32_t g = 0; g < t.groups; ++g) {
        const int32_t start = i;
        int64_t sum = 0;
        for (; i < t.end[g]; ++i) sum += in[i * inStep];
        out[g * outStep] = RoundedMean(sum, t.end[g] - start);
    }
}

// Groups of at most this many samples sum in 32 bits: 65535 * 32768 + 32767
// still fits.
constexpr int32_t kRowGroupLimit = 65535;

}  // namespace
}  // namespace vantir3
#endif  // VANTIR3_PROCESSES_REDUCTIONS_ONCE_

// The vector kernels below are compiled once per instruction set.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vantir3/processes/reductions.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace vantir3 {
namespace HWY_NAMESPACE {
namespace {
namespace hn = hwy::HWY_NAMESPACE;

// ---- Row blocks -----------------------------------------------------------
//
// The per-call tables are the same for every line, so a block of lines can be
// reduced together: the block is fed one row at a time (the samples at one
// position of all its lines) and a kernel keeps one state per vector of
// lines, one line per 16-bit lane. Each lane sees exactly the operations of
// the line kernel, so every output sample is that of the line kernel. Rows
// come straight from memory when the lines are contiguous (the average
// reduction across traces, 1024 lines at a time) and from 8 x 8 transposes
// when the samples of each line are (reductions along traces, one vector of
// lines at a time, the state in registers); output rows leave the same ways.
//
// The lane vector L is as wide as the instruction set's vectors: 32 lines
// with AVX-512, 16 with AVX2, 8 elsewhere (128-bit vectors, and the scalable
// ones of SVE, whose width is known only at run time). Everything below is
// written once for every width and compiled once per instruction set. It is
// written with the compiler's generic vectors, not Highway's: the engine
// keeps its per-line states and staged rows in arrays of vectors and class
// members, which Highway's scalable (sizeless) vectors cannot be, and the
// 8 x 8 transposes need fixed-width shuffles.
//
// A row kernel has a State per vector of lines with static Begin(State&) and
// Update(State&, row), Restart() for a new block, NextEnd() (the row count
// after which the next output is due, 0 for none) and Emit(states, sink),
// which writes that output and resets the states.

// The lane vectors are handed between helpers that are all inlined into one
// instruction-set variant; the note about their calling convention between
// separately compiled functions does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

typedef int16_t Lanes8 __attribute__((vector_size(16)));
typedef int16_t Lanes16 __attribute__((vector_size(32)));
typedef int16_t Lanes32 __attribute__((vector_size(64)));

// For each lane vector: its number of lanes, unsigned lanes and 32-bit words
// of the same width, half a vector of words and as many doubles as that, and
// the two halves of a vector of words (and back).
template <int N>
struct LaneTraitsOf {
    static constexpr int32_t kLanes = N;
    typedef uint16_t LanesU __attribute__((vector_size(2 * N)));
    typedef int32_t Words __attribute__((vector_size(2 * N)));
    typedef uint32_t WordsU __attribute__((vector_size(2 * N)));
    typedef int32_t HalfWords __attribute__((vector_size(N)));
    typedef double Doubles __attribute__((vector_size(2 * N)));
    static void Split(const Words& w, HalfWords& low, HalfWords& high) {
        Split(w, low, high, std::make_index_sequence<N / 4>());
    }
    static void Join(const HalfWords& low, const HalfWords& high, Words& w) {
        w = Joined(low, high, std::make_index_sequence<N / 2>());
    }

private:
    template <size_t... I>
    static void Split(const Words& w, HalfWords& low, HalfWords& high, std::index_sequence<I...>) {
        low = __builtin_shufflevector(w, w, I...);
        high = __builtin_shufflevector(w, w, (I + N / 4)...);
    }
    template <size_t... I>
    static Words Joined(const HalfWords& low, const HalfWords& high, std::index_sequence<I...>) {
        return __builtin_shufflevector(low, high, I...);
    }
};
template <class L>
struct LaneTraits : LaneTraitsOf<static_cast<int>(sizeof(L) / sizeof(int16_t))> {};

constexpr int32_t kTile = 8;          // rows per transposed tile
constexpr int32_t kWideBlock = 1024;  // lines per block when lines are contiguous

// Interleaving within each 128-bit quarter (eight lanes), the steps of an
// 8 x 8 transpose: output lane o of a vector of n lanes takes, in units of
// `unit` lanes, the units of the low (high = 0) or high half of its quarter
// alternately from x and from y (index + n).
constexpr int InterleaveIndex(int o, int unit, int high, int n) {
    const int quarter = o / 8, w = o % 8;
    return 8 * quarter + 4 * high + (w / (2 * unit)) * unit + w % unit + ((w / unit) % 2) * n;
}

template <int kUnit, int kHigh, class L, size_t... O>
inline L Interleave(const L& x, const L& y, std::index_sequence<O...>) {
    return __builtin_shufflevector(x, y, InterleaveIndex(O, kUnit, kHigh, sizeof...(O))...);
}

template <int kUnit, int kHigh, class L>
inline L Interleave(const L& x, const L& y) {
    return Interleave<kUnit, kHigh>(x, y, std::make_index_sequence<LaneTraits<L>::kLanes>());
}

// Lane vectors from 8-sample quarters, and back, without passing through
// memory (a vector loaded from several smaller stores would wait for them).
inline void Join(const Lanes8* part, Lanes8& t) { t = part[0]; }
inline void Join(const Lanes8* part, Lanes16& t) {
    t = __builtin_shufflevector(part[0], part[1], 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}
inline void Join(const Lanes8* part, Lanes32& t) {
    Lanes16 a, b;
    Join(part, a);
    Join(part + 2, b);
    t = __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                                20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
}
inline void Split(const Lanes8& t, Lanes8* part) { part[0] = t; }
inline void Split(const Lanes16& t, Lanes8* part) {
    part[0] = __builtin_shufflevector(t, t, 0, 1, 2, 3, 4, 5, 6, 7);
    part[1] = __builtin_shufflevector(t, t, 8, 9, 10, 11, 12, 13, 14, 15);
}
inline void Split(const Lanes32& t, Lanes8* part) {
    Split(Lanes16(__builtin_shufflevector(t, t, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15)), part);
    Split(Lanes16(
              __builtin_shufflevector(t, t, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31)),
          part + 2);
}

// 8 x 8 transposes in every 128-bit quarter: with t[r] holding rows r of one
// 8 x 8 block per quarter, t[c] becomes column c of each block.
template <class L>
inline void Transpose8(L t[8]) {
    L p[8], q[8];
    for (int k = 0; k < 4; ++k) {
        p[2 * k] = Interleave<1, 0>(t[2 * k], t[2 * k + 1]);
        p[2 * k + 1] = Interleave<1, 1>(t[2 * k], t[2 * k + 1]);
    }
    for (int k = 0; k < 2; ++k) {
        for (int h = 0; h < 2; ++h) {
            q[4 * k + 2 * h] = Interleave<2, 0>(p[4 * k + h], p[4 * k + h + 2]);
            q[4 * k + 2 * h + 1] = Interleave<2, 1>(p[4 * k + h], p[4 * k + h + 2]);
        }
    }
    for (int k = 0; k < 4; ++k) {
        t[2 * k] = Interleave<4, 0>(q[k], q[k + 4]);
        t[2 * k + 1] = Interleave<4, 1>(q[k], q[k + 4]);
    }
}

// t[c] = samples c of kLanes lines, `line` samples apart, from src on
// (c < count <= 8). Quarter q of row r comes from line 8q + r.
template <class L>
inline void GatherTile(const int16_t* src, ptrdiff_t line, int32_t count, L t[8]) {
    constexpr int32_t kLanes = LaneTraits<L>::kLanes;
    if (count == kTile) {
        const int16_t* p = src;
        for (int r = 0; r < 8; ++r) {
            if (r > 0) p += line;
            Lanes8 part[kLanes / 8];
            for (int q = 0; q < kLanes / 8; ++q) std::memcpy(&part[q], p + 8 * q * line, sizeof part[q]);
            Join(part, t[r]);
        }
        Transpose8(t);
    } else {
        for (int32_t c = 0; c < count; ++c)
            for (int r = 0; r < kLanes; ++r) t[c][r] = src[r * line + c];
    }
}

// The reverse: dst[l * line + c] = rows[c][l] for c < count.
template <class L>
inline void ScatterTile(const L rows[8], int32_t count, int16_t* dst, ptrdiff_t line) {
    constexpr int32_t kLanes = LaneTraits<L>::kLanes;
    if (count == kTile) {
        L t[8];
        for (int c = 0; c < 8; ++c) t[c] = rows[c];
        Transpose8(t);
        int16_t* p = dst;
        for (int r = 0; r < 8; ++r) {
            if (r > 0) p += line;
            Lanes8 part[kLanes / 8];
            Split(t[r], part);
            for (int q = 0; q < kLanes / 8; ++q) std::memcpy(p + 8 * q * line, &part[q], sizeof part[q]);
        }
    } else {
        for (int32_t c = 0; c < count; ++c)
            for (int r = 0; r < kLanes; ++r) dst[r * line + c] = rows[c][r];
    }
}

// Where a block's output rows go: straight into contiguous lines, through 8
// staged rows transposed into contiguous samples, or one sample at a time.
template <class L, int32_t W>
class RowSink {
public:
    static constexpr int32_t kLanes = LaneTraits<L>::kLanes;
    static constexpr int32_t kVectors = W / kLanes;

    explicit RowSink(const ReductionLines& s) : s_(s) {}

    void Start(int32_t firstLine) {
        out_ = s_.out + firstLine * s_.outLine;
        written_ = 0;
    }
    // Output position o of the W lines.
    void Put(int32_t o, const L* row) {
        written_ = o + 1;
        if (s_.outLine == 1) {
            std::memcpy(out_ + o * s_.outStep, row, sizeof(L) * kVectors);
        } else if (s_.outStep == 1) {
            for (int32_t v = 0; v < kVectors; ++v) stage_[v][o % kTile] = row[v];
            if (o % kTile == kTile - 1) Flush(o - (kTile - 1), kTile);
        } else {
            for (int32_t l = 0; l < W; ++l)
                out_[l * s_.outLine + o * s_.outStep] = row[l / kLanes][l % kLanes];
        }
    }
    void Finish() {
        const int32_t staged = written_ % kTile;
        if (s_.outLine != 1 && s_.outStep == 1 && staged != 0) Flush(written_ - staged, staged);
    }

private:
    void Flush(int32_t o0, int32_t count) {
        for (int32_t v = 0; v < kVectors; ++v)
            ScatterTile(stage_[v], count, out_ + kLanes * v * s_.outLine + o0, s_.outLine);
    }

    const ReductionLines& s_;
    int16_t* out_ = nullptr;
    int32_t written_ = 0;
    L stage_[kVectors][kTile];
};

// Runs a row kernel over the whole blocks of W lines of a plane. Returns the
// number of lines done; the line kernel takes the rest.
template <class L, int32_t W, class Kernel>
int32_t RunRowBlocks(const ReductionLines& s, int32_t ni, Kernel& kernel) {
    constexpr int32_t kLanes = LaneTraits<L>::kLanes;
    constexpr int32_t kVectors = W / kLanes;
    RowSink<L, W> sink(s);
    typename Kernel::State state[kVectors];
    int32_t first = 0;
    for (; first + W <= s.lines; first += W) {
        const int16_t* in = s.in + first * s.inLine;
        for (typename Kernel::State& st : state) Kernel::Begin(st);
        kernel.Restart();
        int32_t next = kernel.NextEnd();
        sink.Start(first);
        if (s.inLine == 1) {
            for (int32_t i = 0; i < ni; ++i) {
                const int16_t* row = in + i * s.inStep;
                for (int32_t v = 0; v < kVectors; ++v) {
                    L x;
                    std::memcpy(&x, row + kLanes * v, sizeof x);
                    Kernel::Update(state[v], x);
                }
                if (i + 1 == next) {
                    kernel.Emit(state, sink);
                    next = kernel.NextEnd();
                }
            }
        } else {
            for (int32_t i0 = 0; i0 < ni; i0 += kTile) {
                const int32_t rows = ni - i0 < kTile ? ni - i0 : kTile;
                L tile[kVectors][8];
                for (int32_t v = 0; v < kVectors; ++v)
                    GatherTile(in + kLanes * v * s.inLine + i0, s.inLine, rows, tile[v]);
                // Runs of rows up to the next output due within the tile.
                for (int32_t c = 0; c < rows;) {
                    const bool due = next > 0 && next - i0 <= rows;
                    const int32_t end = due ? next - i0 : rows;
                    for (; c < end; ++c)
                        for (int32_t v = 0; v < kVectors; ++v) Kernel::Update(state[v], tile[v][c]);
                    if (due) {
                        kernel.Emit(state, sink);
                        next = kernel.NextEnd();
                    }
                }
            }
        }
        sink.Finish();
    }
    return first;
}

// Runs the row kernel over the lines that allow it (contiguous lines or
// contiguous samples), then the line kernel over the rest.
template <class L, class Kernel, class LineFn>
void RunPlane(const ReductionLines& s, int32_t ni, Kernel& kernel, bool rowsAllowed, LineFn&& line) {
    int32_t first = 0;
    if (rowsAllowed && s.inLine == 1) {
        first = RunRowBlocks<L, kWideBlock>(s, ni, kernel);
    } else if (rowsAllowed && s.inStep == 1) {
        first = RunRowBlocks<L, LaneTraits<L>::kLanes>(s, ni, kernel);
    }
    for (int32_t l = first; l < s.lines; ++l) line(s.in + l * s.inLine, s.out + l * s.outLine);
}

// ---- Min-max reduction: rows ------------------------------------------------

template <class L>
class MinMaxRows {
public:
    struct State {
        L lo, hi, low;
    };

    explicit MinMaxRows(const MinMaxTable& t) : t_(t) {}

    static void Begin(State& st) {
        st.lo = L{} + kLoStart;
        st.hi = L{} + kHiStart;
        st.low = L{};
    }
    static void Update(State& st, const L& x) {
        const L newLow = x < st.lo;
        const L newHigh = x > st.hi;
        st.lo = newLow ? x : st.lo;
        st.hi = newHigh ? x : st.hi;
        st.low = (st.low | newLow) & ~newHigh;
    }
    // A pair's samples in time order, the extreme updated last second.
    static L Earlier(const State& st) { return st.low ? st.hi : st.lo; }
    static L Later(const State& st) { return st.low ? st.lo : st.hi; }
    // LargerMagnitude in every lane.
    static L Single(const State& st) {
        typedef typename LaneTraits<L>::LanesU LanesU;
        // Magnitudes as unsigned 16-bit values, so that -32768 is 32768.
        const LanesU ulo = reinterpret_cast<LanesU>(st.lo);
        const LanesU uhi = reinterpret_cast<LanesU>(st.hi);
        const LanesU absLo = st.lo < 0 ? LanesU{} - ulo : ulo;
        const LanesU absHi = st.hi < 0 ? LanesU{} - uhi : uhi;
        return absLo > absHi ? st.lo : st.hi;
    }
    void Restart() {
        s_ = 0;
        o_ = 0;
    }
    int32_t NextEnd() const { return s_ < t_.segments ? t_.seg[s_].end : 0; }

    template <int32_t W>
    void Emit(State* st, RowSink<L, W>& sink) {
        constexpr int32_t kVectors = RowSink<L, W>::kVectors;
        L row[kVectors];
        if (t_.seg[s_].pair) {
            for (int32_t v = 0; v < kVectors; ++v) row[v] = Earlier(st[v]);
            sink.Put(o_, row);
            for (int32_t v = 0; v < kVectors; ++v) row[v] = Later(st[v]);
            sink.Put(o_ + 1, row);
            o_ += 2;
        } else {
            for (int32_t v = 0; v < kVectors; ++v) row[v] = Single(st[v]);
            sink.Put(o_, row);
            o_ += 1;
        }
        ++s_;
        for (int32_t v = 0; v < kVectors; ++v) Begin(st[v]);
    }

private:
    const MinMaxTable& t_;
    int32_t s_ = 0;
    int32_t o_ = 0;
};

// The min-max reduction of lines whose samples are contiguous in the input
// and in the output (reductions along traces), a vector of lines at a time:
// the rows of each 8 x 8 tile update one MinMaxRows state held in registers,
// and the outputs collect in 8 staged rows that leave through one transpose.
// Written apart from the row engine, whose per-kernel generality (arrays of
// states, output layouts chosen per row) kept the states and tiles in memory
// here. Returns the number of lines done; the line rule takes the rest.
template <class L>
int32_t MinMaxSampleLines(const ReductionLines& s, int32_t ni, const MinMaxTable& t) {
    typedef MinMaxRows<L> Rows;
    constexpr int32_t kLanes = LaneTraits<L>::kLanes;
    constexpr int32_t kLineSamples = 32, kAhead = 2 * kLineSamples;
    int32_t first = 0;
    for (; first + kLanes <= s.lines; first += kLanes) {
        const int16_t* in = s.in + first * s.inLine;
        int16_t* out = s.out + first * s.outLine;
        typename Rows::State st;
        Rows::Begin(st);
        L stage[kTile + 1];  // a pair may overfill the 8 rows by one
        int32_t staged = 0, o0 = 0, seg = 0;
        int32_t next = t.segments > 0 ? t.seg[0].end : 0;
        const auto emit = [&] {
            if (t.seg[seg].pair) {
                stage[staged] = Rows::Earlier(st);
                stage[staged + 1] = Rows::Later(st);
                staged += 2;
            } else {
                stage[staged++] = Rows::Single(st);
            }
            Rows::Begin(st);
            next = ++seg < t.segments ? t.seg[seg].end : 0;
            if (staged >= kTile) {
                ScatterTile(stage, kTile, out + o0, s.outLine);
                o0 += kTile;
                staged -= kTile;
                stage[0] = stage[kTile];
            }
        };
        for (int32_t i0 = 0; i0 < ni && next > 0; i0 += kTile) {
            const int32_t rows = ni - i0 < kTile ? ni - i0 : kTile;
            // The lines are far apart, and the processor's own prefetching
            // falls behind on so many of them: at each new cache line of
            // samples, each line's samples are asked for kAhead samples on.
            if (i0 % kLineSamples == 0)
                for (int32_t l = 0; l < kLanes; ++l) __builtin_prefetch(in + l * s.inLine + i0 + kAhead);
            L tile[kTile];
            GatherTile(in + i0, s.inLine, rows, tile);
            if (rows == kTile && next - i0 >= kTile) {
                // No output due before the tile's last row.
                for (int32_t c = 0; c < kTile; ++c) Rows::Update(st, tile[c]);
                if (next - i0 == kTile) emit();
            } else {
                for (int32_t c = 0; c < kTile; ++c) {
                    if (c >= rows) break;
                    Rows::Update(st, tile[c]);
                    if (i0 + c + 1 == next) emit();
                }
            }
        }
        if (staged > 0) ScatterTile(stage, staged, out + o0, s.outLine);
    }
    return first;
}

// ---- Average reduction: rows -----------------------------------------------

// AverageLine on a vector of lines per state. A row read as 32-bit words
// gives the even lines sign-extended by (w << 16) >> 16 and the odd lines by
// w >> 16; each half sums in 32 bits (the kernel is only used for groups of
// at most kRowGroupLimit samples). The rounded mean is sign(sum) * floor(a /
// n) with a = |sum| + n / 2 < 2^31, and floor(a / n) is the truncated double
// product a * y with y just above 1 / n (one unit in the last place above the
// rounded reciprocal): a * y lies between a / n and a / n + 2^-20, which
// never reaches the next whole number since a / n is at least 1 / n >= 2^-16
// below it. So no division is needed and the bits are those of RoundedMean.
template <class L>
class AverageRows {
public:
    typedef typename LaneTraits<L>::Words Words;
    typedef typename LaneTraits<L>::WordsU WordsU;

    struct State {
        Words even, odd;
    };

    explicit AverageRows(const AverageTable& t) : t_(t) {}

    static void Begin(State& st) {
        st.even = Words{};
        st.odd = Words{};
    }
    static void Update(State& st, const L& x) {
        const Words w = reinterpret_cast<Words>(x);
        st.even += (w << 16) >> 16;
        st.odd += w >> 16;
    }
    void Restart() {
        g_ = 0;
        start_ = 0;
    }
    int32_t NextEnd() const { return g_ < t_.groups ? t_.end[g_] : 0; }

    template <int32_t W>
    void Emit(State* st, RowSink<L, W>& sink) {
        constexpr int32_t kVectors = RowSink<L, W>::kVectors;
        const int32_t end = t_.end[g_];
        const int32_t half = (end - start_) / 2;
        const double y = t_.scale[g_];
        L row[kVectors];
        for (int32_t v = 0; v < kVectors; ++v) {
            // Means lie in -32768 ... 32767: the low 16 bits of each word.
            WordsU even, odd;
            Means(st[v].even, half, y, even);
            Means(st[v].odd, half, y, odd);
            row[v] = reinterpret_cast<L>((even & 0xFFFFu) | (odd << 16));
            Begin(st[v]);
        }
        sink.Put(g_, row);
        ++g_;
        start_ = end;
    }

private:
    // The rounded means of the sums of n samples (y just above 1 / n), as
    // 32-bit words, a half vector of words at a time so that the doubles
    // fill one vector.
    static void Means(const Words& sum, int32_t half, double y, WordsU& mean) {
        typedef typename LaneTraits<L>::Doubles Products;
        const Words a = (sum < 0 ? -sum : sum) + half;
        typename LaneTraits<L>::HalfWords low, high;
        LaneTraits<L>::Split(a, low, high);
        low = __builtin_convertvector(__builtin_convertvector(low, Products) * y, decltype(low));
        high = __builtin_convertvector(__builtin_convertvector(high, Products) * y, decltype(high));
        Words q;
        LaneTraits<L>::Join(low, high, q);
        mean = reinterpret_cast<WordsU>(sum < 0 ? -q : q);
    }

    const AverageTable& t_;
    int32_t g_ = 0;
    int32_t start_ = 0;
};

// ---- Per instruction set -----------------------------------------------------

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
using Lanes = Lanes32;
#elif HWY_TARGET == HWY_AVX2
using Lanes = Lanes16;
#else
using Lanes = Lanes8;
#endif

// Highway's one-lane target (HWY_SCALAR) has no whole vectors of samples to
// regroup: only the row engine runs there.
#if HWY_TARGET != HWY_SCALAR

// The rounded means of sums of n = 2^kShift samples (|sum| <= 2^20) in
// 32-bit lanes: sign(sum) * ((|sum| + n / 2) >> kShift), the truncated
// quotient that RoundedMean takes.
template <int kShift, class D>
HWY_INLINE hn::Vec<D> RoundedMeans(D d, hn::Vec<D> sum) {
    const auto q = hn::ShiftRight<kShift>(hn::Add(hn::Abs(sum), hn::Set(d, 1 << kShift >> 1)));
    return hn::IfThenElse(hn::Lt(sum, hn::Zero(d)), hn::Neg(q), q);
}

// The sums of the M groups of 2^kShift consecutive samples from p on, M the
// number of 32-bit lanes of D: the sums of half as many samples for each
// half of the groups, neighbours added by taking even and odd lanes apart.
template <int kShift, class D>
HWY_INLINE hn::Vec<D> GroupSums(D d, const int16_t* p) {
    if constexpr (kShift == 0) {
        return hn::PromoteTo(d, hn::LoadU(hn::Rebind<int16_t, D>(), p));
    } else {
        const size_t half = hn::Lanes(d) << (kShift - 1);
        const auto lo = GroupSums<kShift - 1>(d, p);
        const auto hi = GroupSums<kShift - 1>(d, p + half);
        return hn::Add(hn::ConcatEven(d, hi, lo), hn::ConcatOdd(d, hi, lo));
    }
}

// AverageLine for `groups` groups of 2^kShift samples on a line whose
// samples are contiguous, a vector of groups at a time.
template <int kShift>
void UniformAverageLine(const int16_t* in, int16_t* out, int32_t groups) {
    const hn::ScalableTag<int32_t> d;
    const hn::Rebind<int16_t, decltype(d)> d16;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    int32_t g = 0;
    for (; g + lanes <= groups; g += lanes) {
        const auto sums = GroupSums<kShift>(d, in + (static_cast<ptrdiff_t>(g) << kShift));
        hn::StoreU(hn::DemoteTo(d16, RoundedMeans<kShift>(d, sums)), d16, out + g);
    }
    for (; g < groups; ++g) {
        int32_t sum = 0;
        for (int32_t i = g << kShift; i < (g + 1) << kShift; ++i) sum += in[i];
        out[g] = RoundedMean(sum, int32_t{1} << kShift);
    }
}

// The same for contiguous lines (the average across traces): a vector of
// lines at a time, each group's rows summed in 32-bit lanes (the lines at
// even places sign-extended in place, those at odd places shifted down) and
// the means put back in place. Returns the number of lines done; the line
// kernel takes the rest.
template <int kShift>
int32_t UniformAverageRows(const ReductionLines& s, int32_t groups) {
    const hn::ScalableTag<int16_t> d;
    const hn::Repartition<int32_t, decltype(d)> d32;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    const int32_t lines = s.lines / lanes * lanes;
    for (int32_t g = 0; g < groups; ++g) {
        const int16_t* rows = s.in + (g << kShift) * s.inStep;
        int16_t* out = s.out + g * s.outStep;
        for (int32_t l = 0; l < lines; l += lanes) {
            auto even = hn::Zero(d32), odd = hn::Zero(d32);
            for (int32_t j = 0; j < (1 << kShift); ++j) {
                const auto w = hn::BitCast(d32, hn::LoadU(d, rows + l + j * s.inStep));
                even = hn::Add(even, hn::ShiftRight<16>(hn::ShiftLeft<16>(w)));
                odd = hn::Add(odd, hn::ShiftRight<16>(w));
            }
            const auto low = hn::And(RoundedMeans<kShift>(d32, even), hn::Set(d32, 0xFFFF));
            const auto both = hn::Or(low, hn::ShiftLeft<16>(RoundedMeans<kShift>(d32, odd)));
            hn::StoreU(hn::BitCast(d, both), d, out + l);
        }
    }
    return lines;
}

// The uniform kernels over a plane, for groups of 2^kShift: across
// contiguous lines, or along contiguous samples a line at a time. Returns
// the number of lines done.
template <int kShift>
int32_t UniformAverage(const ReductionLines& s, int32_t groups) {
    if (s.inLine == 1 && s.outLine == 1) return UniformAverageRows<kShift>(s, groups);
    for (int32_t l = 0; l < s.lines; ++l) UniformAverageLine<kShift>(s.in + l * s.inLine, s.out + l * s.outLine, groups);
    return s.lines;
}

// Decimation of contiguous lines whose picks are every kStride-th sample
// from the first: a vector of picks from kStride vectors of samples. Returns
// the number of picks done per line (the steps that read inside the line's
// ni samples).
template <int kStride>
int32_t StridedPicks(const ReductionLines& s, int32_t count, int32_t ni) {
    const hn::ScalableTag<int16_t> d;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(d));
    int32_t done = 0;
    while (done + lanes <= count && int64_t{done + lanes} * kStride <= ni) done += lanes;
    for (int32_t l = 0; l < s.lines; ++l) {
        const int16_t* in = s.in + l * s.inLine;
        int16_t* out = s.out + l * s.outLine;
        for (int32_t w = 0; w < done; w += lanes) {
            const int16_t* p = in + w * kStride;
            hn::Vec<decltype(d)> v;
            if constexpr (kStride == 2) {
                v = hn::ConcatEven(d, hn::LoadU(d, p + lanes), hn::LoadU(d, p));
            } else if constexpr (kStride == 4) {
                const auto a = hn::ConcatEven(d, hn::LoadU(d, p + lanes), hn::LoadU(d, p));
                const auto b = hn::ConcatEven(d, hn::LoadU(d, p + 3 * lanes), hn::LoadU(d, p + 2 * lanes));
                v = hn::ConcatEven(d, b, a);
            } else {
                hn::Vec<decltype(d)> v1, v2;
                hn::LoadInterleaved3(d, p, v, v1, v2);
            }
            hn::StoreU(v, d, out + w);
        }
    }
    return done;
}
#define VANTIR3_REDUCTION_VECTORS 1
#endif  // HWY_TARGET != HWY_SCALAR

}  // namespace

// The min-max reduction of a plane: lines of contiguous samples in blocks,
// others through the row engine, and the line rule over the rest.
__attribute__((flatten)) void MinMaxPlane(const ReductionLines& s, int32_t ni, const MinMaxTable& t) {
    const auto line = [&](const int16_t* in, int16_t* out) { MinMaxLine(in, s.inStep, out, s.outStep, ni, t); };
    if (s.inStep == 1 && s.outStep == 1) {
        const int32_t done = MinMaxSampleLines<Lanes>(s, ni, t);
        for (int32_t l = done; l < s.lines; ++l) line(s.in + l * s.inLine, s.out + l * s.outLine);
        return;
    }
    MinMaxRows<Lanes> rows(t);
    RunPlane<Lanes>(s, ni, rows, true, line);
}

// Decimation picks every `stride`-th sample (2 to 4) of contiguous lines;
// returns the number of picks done per line.
int32_t DecimationPicks(const ReductionLines& s, int32_t count, int32_t stride, int32_t ni) {
#if defined(VANTIR3_REDUCTION_VECTORS)
    switch (stride) {
        case 2: return StridedPicks<2>(s, count, ni);
        case 3: return StridedPicks<3>(s, count, ni);
        case 4: return StridedPicks<4>(s, count, ni);
        default: return 0;
    }
#else
    (void)s, (void)count, (void)stride, (void)ni;
    return 0;
#endif
}

// The average reduction of a plane. Groups all of 2^k samples (uniformShift
// k, 1 to 5; else 0) with contiguous samples or contiguous lines take the
// uniform kernels; otherwise the row engine takes the lines it can (rows:
// every group within kRowGroupLimit, scales present). The line rule takes
// the lines left over.
__attribute__((flatten)) void AveragePlane(const ReductionLines& s, int32_t ni, const AverageTable& t, bool rows,
                                           int32_t uniformShift) {
    int32_t done = -1;
#if defined(VANTIR3_REDUCTION_VECTORS)
    if (uniformShift > 0 && ((s.inStep == 1 && s.outStep == 1) || (s.inLine == 1 && s.outLine == 1))) {
        switch (uniformShift) {
            case 1: done = UniformAverage<1>(s, t.groups); break;
            case 2: done = UniformAverage<2>(s, t.groups); break;
            case 3: done = UniformAverage<3>(s, t.groups); break;
            case 4: done = UniformAverage<4>(s, t.groups); break;
            default: done = UniformAverage<5>(s, t.groups); break;
        }
    }
#else
    (void)uniformShift;
#endif
    const auto line = [&](const int16_t* in, int16_t* out) { AverageLine(in, s.inStep, out, s.outStep, t); };
    if (done < 0) {
        AverageRows<Lanes> kernel(t);
        RunPlane<Lanes>(s, ni, kernel, rows, line);
        return;
    }
    for (int32_t l = done; l < s.lines; ++l) line(s.in + l * s.inLine, s.out + l * s.outLine);
}
#undef VANTIR3_REDUCTION_VECTORS

}  // namespace HWY_NAMESPACE
}  // namespace vantir3
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace vantir3 {

// ---- Per-call tables ------------------------------------------------------

int32_t MinMaxSegments(int32_t ni, int32_t no, double r, MinMaxSegment* seg, int32_t capacity) {
    if (ni < 1 || no < 1 || seg == nullptr) return 0;
    enum { kPair, kSingle, kFinished } mode = no >= 2 ? kPair : kSingle;
    int64_t next = no >= 2 ? 2 : 1;  // output count after the next write
    int32_t n = 0;
    for (int32_t count = 1; count <= ni && mode != kFinished && n < capacity; ++count) {
        if (!(static_cast<double>(count) >= static_cast<double>(next) * r || count == ni)) continue;
        seg[n++] = {count, mode == kPair};
        if (mode == kPair) {
            next += 2;
            if (next == int64_t{no} + 1) {
                next = no;
                mode = kSingle;
            } else if (next > no) {
                mode = kFinished;
            }
        } else {
            mode = kFinished;
        }
    }
    return n;
}

int32_t DecimationIndices(int32_t ni, int32_t no, double r, int32_t* index, int32_t capacity) {
    if (index == nullptr) return 0;
    int32_t w = 0;
    for (int32_t j = 0; j < ni && w < no && w < capacity; ++j) {
        if (static_cast<double>(j) >= static_cast<double>(w) * r || (j + 1 == ni && w + 1 == no))
            index[w++] = j;
    }
    return w;
}

int32_t AverageGroupEnds(int32_t ni, int32_t no, double r, int32_t* end, int32_t capacity) {
    if (end == nullptr || !(r >= 0.0) || r > 2147483647.0) return 0;
    const double rf = std::floor(r);
    int64_t target = static_cast<int64_t>(rf);
    double f = r - rf;  // carried fraction
    int64_t n = 0;
    int32_t groups = 0;
    for (int32_t j = 0; j < ni && groups < no && groups < capacity; ++j) {
        if (++n < target) continue;
        end[groups++] = j + 1;
        n = 0;
        const double longer = std::floor(r + f + 0.5);
        if (f > 0.0 && longer > rf) {
            target = static_cast<int64_t>(longer);
            f = r + f - longer;
        } else {
            target = static_cast<int64_t>(rf);
            f = f + (r - rf);
        }
    }
    return groups;
}

namespace {

constexpr int32_t kSampleSize = 2;

// ---- The common frame (lines of one plane: ReductionLines above) ----------

struct ReductionShape {
    int32_t ni;
    int32_t no;
    double r;
};

// What the reduction factor must satisfy before anything is written.
enum class FactorRule {
    kAboveOne,  // R <= 1 gives -1
    kSumFits,   // R * 32767 > 2147483647 gives -6
};

// Local references to the caller's buffers, released on every return.
struct LocalPair {
    MeboDataPtr in;
    MeboDataPtr out;
    LocalPair(MeboDataPtr& callerOut, const MeboDataPtr& callerIn) {
        MeboDataPtrClear(&in);
        MeboDataPtrClear(&out);
        MeboDataPtrShare(&in, &callerIn);
        MeboDataPtrShare(&out, &callerOut);
    }
    ~LocalPair() {
        MeboDataPtrRelease(&in);
        MeboDataPtrRelease(&out);
    }
    LocalPair(const LocalPair&) = delete;
    LocalPair& operator=(const LocalPair&) = delete;
};

// Common ranges of a and b on the two axes other than `reduced`, into
// `common`, with the codes of MeboIntersectRanges.
int IntersectMatched(Mebo3DDataAxis* common, const Mebo3DDataAxis& a, const Mebo3DDataAxis& b, int reduced) {
    int code = 0;
    for (int k = 0; k < 3; ++k) {
        if (k == reduced) continue;
        const int c = MeboIntersectRanges(common, &a, &b, k, 1);
        if (c < 0) return kStatusNoCommonRegion;
        code |= c;
    }
    return code;
}

ptrdiff_t Samples(int32_t strideBytes) { return strideBytes / kSampleSize; }

// Checks, narrows the matched axes, lets the kernel build its per-call
// tables (kernel.Prepare(shape) -> false when out of memory), walks
// every plane handing the kernel that plane's lines (kernel(lines)), and
// re-views the caller's output when it reached beyond the input.
template <class Kernel>
int RunReduction(MeboDataPtr& out, const MeboDataPtr& in, int axis, FactorRule rule, Kernel& kernel) {
    if (axis != 0 && axis != 1) return kReduceNothingToReduce;
    if (in.axis.elemSize != out.axis.elemSize || in.axis.elemSize != kSampleSize) return kStatusElemSizeMismatch;
    const int64_t ni = int64_t{in.axis.dim[axis].max} - in.axis.dim[axis].min + 1;
    const int64_t no = int64_t{out.axis.dim[axis].max} - out.axis.dim[axis].min + 1;
    if (in.storage == nullptr || out.storage == nullptr || in.axis.base == nullptr ||
        out.axis.base == nullptr || ni < 1 || no < 1 || ni > INT32_MAX || no > INT32_MAX)
        return kStatusNoCommonRange;
    const double r = static_cast<double>(ni) / static_cast<double>(no);
    if (rule == FactorRule::kAboveOne && r <= 1.0) return kReduceNothingToReduce;

    LocalPair local(out, in);
    Mebo3DDataAxis inCommon = local.in.axis;
    const int code = IntersectMatched(&inCommon, local.in.axis, local.out.axis, axis);
    if (code < 0) return kStatusNoCommonRange;
    Mebo3DDataAxis outCommon = local.out.axis;
    for (int k = 0; k < 3; ++k) {
        if (k == axis) continue;
        outCommon.dim[k].min = inCommon.dim[k].min;
        outCommon.dim[k].max = inCommon.dim[k].max;
    }
    if ((code & kIntersectNarrowerThanSecond) != 0 && !MeboDataPtrSetView(&local.out, &outCommon, 0))
        return kStatusNarrowOutputFailed;
    if ((code & kIntersectNarrowerThanFirst) != 0 && !MeboDataPtrSetView(&local.in, &inCommon, 0))
        return kStatusNarrowInputFailed;
    if (rule == FactorRule::kSumFits && r * 32767.0 > 2147483647.0) return kReduceSumTooLarge;

    const Mebo3DDataAxis& a = local.in.axis;
    const Mebo3DDataAxis& b = local.out.axis;
    const int lineAxis = axis == 0 ? 1 : 0;
    ReductionLines lines;
    lines.inStep = Samples(a.dim[axis].stride);
    lines.outStep = Samples(b.dim[axis].stride);
    lines.inLine = Samples(a.dim[lineAxis].stride);
    lines.outLine = Samples(b.dim[lineAxis].stride);
    lines.lines = a.dim[lineAxis].max - a.dim[lineAxis].min + 1;
    const ReductionShape shape = {static_cast<int32_t>(ni), static_cast<int32_t>(no), r};
    if (!kernel.Prepare(shape)) return kStatusAllocationFailed;

    const int64_t planes = int64_t{a.dim[2].max} - a.dim[2].min + 1;
    for (int64_t p = 0; p < planes; ++p) {
        lines.in = reinterpret_cast<const int16_t*>(a.base + p * a.dim[2].stride);
        lines.out = reinterpret_cast<int16_t*>(b.base + p * b.dim[2].stride);
        kernel(lines);
    }
    if ((code & kIntersectNarrowerThanSecond) == 0) return kStatusOk;
    const Mebo3DDataAxis view = MeboDataPtrGetAxis(&local.out);
    return MeboDataPtrSetView(&out, &view, 0) ? kStatusOutputNarrowed : kStatusFinalNarrowFailed;
}

// ---- Kernels -----------------------------------------------------------------

HWY_EXPORT(MinMaxPlane);
HWY_EXPORT(DecimationPicks);
HWY_EXPORT(AveragePlane);

class MinMaxKernel {
public:
    bool Prepare(const ReductionShape& shape) {
        ni_ = shape.ni;
        const int32_t capacity = static_cast<int32_t>((int64_t{shape.no} + 1) / 2);
        t_.seg.reset(new (std::nothrow) MinMaxSegment[capacity]);
        if (!t_.seg) return false;
        t_.segments = MinMaxSegments(shape.ni, shape.no, shape.r, t_.seg.get(), capacity);
        return true;
    }
    void operator()(const ReductionLines& s) { HWY_DYNAMIC_DISPATCH(MinMaxPlane)(s, ni_, t_); }

private:
    MinMaxTable t_;
    int32_t ni_ = 0;
};

class DecimationKernel {
public:
    bool Prepare(const ReductionShape& shape) {
        index_.reset(new (std::nothrow) int32_t[shape.no]);
        if (!index_) return false;
        count_ = DecimationIndices(shape.ni, shape.no, shape.r, index_.get(), shape.no);
        ni_ = shape.ni;
        // Picks every stride-th sample from the first, stride 2 to 4: the
        // vector kernel.
        stride_ = count_ >= 2 ? index_[1] : 0;
        for (int32_t w = 0; w < count_ && stride_ != 0; ++w)
            if (index_[w] != int64_t{w} * stride_) stride_ = 0;
        if (stride_ < 2 || stride_ > 4) stride_ = 0;
        return true;
    }
    void operator()(const ReductionLines& s) {
        const int32_t* index = index_.get();
        const int32_t count = count_;
        int32_t first = 0;
        if (stride_ != 0 && s.inStep == 1 && s.outStep == 1)
            first = HWY_DYNAMIC_DISPATCH(DecimationPicks)(s, count, stride_, ni_);
        for (int32_t l = 0; l < s.lines; ++l) {
            const int16_t* in = s.in + l * s.inLine;
            int16_t* out = s.out + l * s.outLine;
            for (int32_t w = first; w < count; ++w) out[w * s.outStep] = in[index[w] * s.inStep];
        }
    }

private:
    std::unique_ptr<int32_t[]> index_;
    int32_t count_ = 0;
    int32_t ni_ = 0;
    int32_t stride_ = 0;  // 2 to 4 when the vector kernel applies, else 0
};

class AverageKernel {
public:
    bool Prepare(const ReductionShape& shape) {
        const int32_t capacity = shape.ni < shape.no ? shape.ni : shape.no;
        t_.end.reset(new (std::nothrow) int32_t[capacity]);
        if (!t_.end) return false;
        t_.groups = AverageGroupEnds(shape.ni, shape.no, shape.r, t_.end.get(), capacity);
        ni_ = shape.ni;
        // The row kernel needs groups of at most kRowGroupLimit samples and
        // the scale of each group; without memory for the scales the line
        // kernel does everything.
        rows_ = true;
        for (int32_t g = 0, start = 0; g < t_.groups; start = t_.end[g++])
            if (t_.end[g] - start > kRowGroupLimit) rows_ = false;
        if (rows_) t_.scale.reset(new (std::nothrow) double[t_.groups > 0 ? t_.groups : 1]);
        if (!t_.scale) rows_ = false;
        for (int32_t g = 0, start = 0; rows_ && g < t_.groups; start = t_.end[g++])
            t_.scale[g] = std::nextafter(1.0 / (t_.end[g] - start), 2.0);
        // Groups all of 2^k samples, 2 to 32: the uniform kernel.
        uniformShift_ = 0;
        for (int32_t k = 1; k <= 5 && uniformShift_ == 0 && t_.groups > 0; ++k) {
            if (t_.end[0] != (int32_t{1} << k)) continue;
            bool uniform = true;
            for (int32_t g = 1; g < t_.groups && uniform; ++g) uniform = t_.end[g] - t_.end[g - 1] == t_.end[0];
            if (uniform) uniformShift_ = k;
        }
        return true;
    }
    void operator()(const ReductionLines& s) {
        HWY_DYNAMIC_DISPATCH(AveragePlane)(s, ni_, t_, rows_, uniformShift_);
    }

private:
    AverageTable t_;
    int32_t ni_ = 0;
    bool rows_ = true;
    int32_t uniformShift_ = 0;  // k when every group has 2^k samples (1 <= k <= 5), else 0
};

}  // namespace

int MinMaxReduction(MeboDataPtr& out, const MeboDataPtr& in) {
    MinMaxKernel kernel;
    return RunReduction(out, in, 0, FactorRule::kAboveOne, kernel);
}

int Decimation(MeboDataPtr& out, const MeboDataPtr& in) {
    DecimationKernel kernel;
    return RunReduction(out, in, 0, FactorRule::kAboveOne, kernel);
}

int AverageReduction(MeboDataPtr& out, const MeboDataPtr& in, int axis) {
    AverageKernel kernel;
    return RunReduction(out, in, axis, FactorRule::kSumFits, kernel);
}

}  // namespace vantir3

int CCdpProcessToolbox::CdpMinMaxReduction(MeboDataPtr& out, const MeboDataPtr& in) {
    return vantir3::MinMaxReduction(out, in);
}

int CCdpProcessToolbox::CdpDecimation(MeboDataPtr& out, const MeboDataPtr& in) {
    return vantir3::Decimation(out, in);
}

int CCdpProcessToolbox::CdpAverageReduction(MeboDataPtr& out, const MeboDataPtr& in, int axis) {
    return vantir3::AverageReduction(out, in, axis);
}

#endif  // HWY_ONCE
