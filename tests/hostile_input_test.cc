// Framework entry points fed with inputs outside the ones they are made for:
// sources that hand back empty, 32-bit, reversed or transposed buffers,
// buffers of the wrong element size or without a common region, parameter
// texts of megabytes, with embedded NULs or endless lines, and declaration
// indices at the ends of the int range. Each call must answer with a status
// code (or an empty text) and leave its output defined; in the sanitizer
// build any out-of-bounds access or undefined behaviour fails the run.
#include <cfloat>
#include <climits>
#include <cmath>
#include <functional>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kol_utils/kol_utils.h"
#include "tests/support/test_source.h"
#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/process.h"
#include "vantir3/framework/process_chain.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/numeric/statistics.h"
#include "vantir3/processes/const_gain.h"
#include "vantir3/processes/sec2_gain.h"

namespace {

using vantir3_test::DefaultGprParam;
using vantir3_test::MakeBuffer;
using vantir3_test::SampleAt;

const uint32_t kConst = KOL::Str2UID("CONST@");

// A raw source that answers every request with one kind of odd buffer.
class OddSource : public ICdpDataSource {
public:
    enum Kind { kEmpty, kElem4, kElem1, kReversed, kTransposed, kNarrowed, kFailing };
    OddSource(Kind kind, int status) : kind_(kind), status_(status), gpr_(DefaultGprParam()) {}

    const SEGprParam* GprParamPtr() const override { return &gpr_; }
    bool GetAvailableRange(Mebo3DDataAxis*, int) const override { return false; }
    bool SourceChanged(const void*) const override { return false; }
    uint32_t EdgeEffect(bool) const override { return UINT32_MAX; }

    int GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis*, const void*) const override {
        MeboDataPtrRelease(&out);
        switch (kind_) {
            case kEmpty:
                break;
            case kElem4:
                MeboDataPtrAllocate(&out, 4, 0, 31, 0, 5, 0, 0, 1);
                break;
            case kElem1:
                MeboDataPtrAllocate(&out, 1, 0, 31, 0, 5, 0, 0, 1);
                break;
            case kReversed:  // storage for 4 x 3 samples, none addressable
                MeboDataPtrAllocate(&out, 2, 3, 0, 0, 2, 0, 0, 1);
                break;
            case kTransposed:  // traces on axis 0, samples on axis 1
                out = MakeBuffer(0, 40, 0, 6, 0, 1, vantir3_test::ProfileSample);
                MeboDataPtrSwapAxes(&out, 0, 1);
                break;
            case kNarrowed: {  // a window in the middle of larger storage
                out = MakeBuffer(0, 63, 0, 9, 0, 0, vantir3_test::ProfileSample);
                Mebo3DDataAxis view = out.axis;
                view.dim[0].min = 10;
                view.dim[0].max = 40;
                view.dim[1].min = 3;
                view.dim[1].max = 7;
                MeboDataPtrSetView(&out, &view, 0);
                break;
            }
            case kFailing:
                MeboDataPtrAllocate(&out, 2, 0, 7, 0, 7, 0, 0, 1);
                break;
        }
        return status_;
    }

private:
    Kind kind_;
    int status_;
    SEGprParam gpr_;
};

// Every process type of the catalogue, created by the given toolbox.
std::vector<CCdpProcess*> EveryProcess(CCdpProcessToolbox& toolbox) {
    std::vector<CCdpProcess*> processes;
    for (unsigned i = 0; i < toolbox.GetAvailableProcessCount(); ++i) {
        processes.push_back(toolbox.GetProcess(static_cast<unsigned>(toolbox.GetAvailableProcessUID(i, nullptr))));
    }
    return processes;
}

bool IsEmpty(const MeboDataPtr& b) {
    MeboDataPtr zero;
    MeboDataPtrClear(&zero);
    return std::memcmp(&b, &zero, sizeof b) == 0;
}

TEST(HostileInput, SourcesHandingBackOddBuffers) {
    CCdpProcessToolbox toolbox;
    const std::vector<CCdpProcess*> processes = EveryProcess(toolbox);
    ASSERT_FALSE(processes.empty());
    Mebo3DDataAxis region{};
    MeboDataPtr out;
    MeboDataPtrClear(&out);

    // An empty buffer, even with a success status, is nothing to process:
    // -1 and the output stays empty.
    for (int status : {0, 5}) {
        OddSource empty(OddSource::kEmpty, status);
        for (CCdpProcess* p : processes) {
            p->SetDataSource(&empty);
            EXPECT_EQ(p->GetDataCdp(out, &region, nullptr), -1) << p->GetDeclaration(-1);
            EXPECT_TRUE(IsEmpty(out));
        }
    }
    // A failing source's status comes back unchanged, with the output empty.
    OddSource failing(OddSource::kFailing, -77);
    for (CCdpProcess* p : processes) {
        p->SetDataSource(&failing);
        EXPECT_EQ(p->GetDataCdp(out, &region, nullptr), -77);
        EXPECT_TRUE(IsEmpty(out));
    }

    // Buffers of other element sizes, without addressable samples, or with
    // transposed or narrowed views: any status, but an output that is either
    // empty or allocated over the input's ranges with the input's element
    // size, and no access outside it.
    for (OddSource::Kind kind : {OddSource::kElem4, OddSource::kElem1, OddSource::kReversed,
                                 OddSource::kTransposed, OddSource::kNarrowed}) {
        OddSource odd(kind, 0);
        MeboDataPtr expected;
        MeboDataPtrClear(&expected);
        odd.GetDataCdp(expected, &region, nullptr);
        for (CCdpProcess* p : processes) {
            p->SetDataSource(&odd);
            const int status = p->GetDataCdp(out, &region, nullptr);
            SCOPED_TRACE(p->GetDeclaration(-1) + " kind " + std::to_string(kind) + " status " +
                         std::to_string(status));
            if (out.storage != nullptr) {
                EXPECT_EQ(out.axis.elemSize, expected.axis.elemSize);
                EXPECT_EQ(out.storage->refCount, 1u);
            }
            if (status >= 0) {
                ASSERT_NE(out.storage, nullptr);
            }
            MeboDataPtrRelease(&out);
        }
        MeboDataPtrRelease(&expected);
    }

    // The constant gain refuses element sizes other than 2 (-3) and finds
    // nothing to do in a buffer without addressable samples (-1).
    CCdpProcess* gain = toolbox.GetProcess(kConst);
    OddSource elem4(OddSource::kElem4, 0);
    gain->SetDataSource(&elem4);
    EXPECT_EQ(gain->GetDataCdp(out, &region, nullptr), -3);
    OddSource reversed(OddSource::kReversed, 0);
    gain->SetDataSource(&reversed);
    EXPECT_EQ(gain->GetDataCdp(out, &region, nullptr), -1);
    // A transposed source: every sample gained where the source put it.
    OddSource transposed(OddSource::kTransposed, 0);
    gain->SetDataSource(&transposed);
    ASSERT_EQ(gain->SetParams("GAIN@@=2.00"), 0);
    ASSERT_EQ(gain->GetDataCdp(out, &region, nullptr), 0);
    for (int32_t t = 0; t <= 6; ++t) {
        for (int32_t s = 0; s <= 40; s += 8) {
            const double x = vantir3_test::ProfileSample(s, t, 1);
            EXPECT_EQ(SampleAt(out, t, s, 1), vantir3::FloorSaturate16(0.5 + 2.0 * x));
        }
    }
    MeboDataPtrRelease(&out);
    // The edge effect of the raw source passes through unchanged.
    EXPECT_EQ(gain->EdgeEffect(true), UINT32_MAX);
}

TEST(HostileInput, ConstantGainOnMismatchedBuffers) {
    const auto ramp = [](int32_t i, int32_t j, int32_t) { return static_cast<int16_t>(i * 100 - j); };
    MeboDataPtr in = MakeBuffer(0, 15, 0, 3, 0, 0, ramp);
    MeboDataPtr out = MakeBuffer(0, 15, 0, 3, 0, 0, [](int32_t, int32_t, int32_t) { return int16_t{9}; });
    const MeboDataPtr outBefore = out;

    // Element sizes other than 2, alone or mixed: -3, nothing written.
    for (int32_t size : {1, 4, 8}) {
        MeboDataPtr odd;
        MeboDataPtrClear(&odd);
        ASSERT_EQ(MeboDataPtrAllocate(&odd, size, 0, 15, 0, 3, 0, 0, 1), 1);
        EXPECT_EQ(vantir3::ConstGain(out, odd, 2.0), -3);
        EXPECT_EQ(vantir3::ConstGain(odd, in, 2.0), -3);
        EXPECT_EQ(vantir3::ConstGain(odd, odd, 2.0), -3);
        EXPECT_EQ(odd.storage->refCount, 1u);
        MeboDataPtrRelease(&odd);
    }
    EXPECT_EQ(std::memcmp(&out, &outBefore, sizeof out), 0);
    EXPECT_EQ(SampleAt(out, 3, 1), 9);

    // Disjoint regions (on each axis in turn) and empty buffers: -1.
    MeboDataPtr far0 = MakeBuffer(16, 31, 0, 3, 0, 0, ramp);
    MeboDataPtr far1 = MakeBuffer(0, 15, 4, 7, 0, 0, ramp);
    MeboDataPtr far2 = MakeBuffer(0, 15, 0, 3, 1, 1, ramp);
    MeboDataPtr empty;
    MeboDataPtrClear(&empty);
    for (MeboDataPtr* other : {&far0, &far1, &far2, &empty}) {
        EXPECT_EQ(vantir3::ConstGain(out, *other, 2.0), -1);
        EXPECT_EQ(vantir3::ConstGain(*other, in, 2.0), -1);
    }
    EXPECT_EQ(vantir3::ConstGain(empty, empty, 2.0), -1);
    EXPECT_TRUE(IsEmpty(empty));
    EXPECT_EQ(std::memcmp(&out, &outBefore, sizeof out), 0);
    EXPECT_EQ(SampleAt(out, 3, 1), 9);
    for (MeboDataPtr* b : {&far0, &far1, &far2}) {
        EXPECT_EQ(b->storage->refCount, 1u);
        MeboDataPtrRelease(b);
    }

    // Factors that no parameter can set (infinite, NaN, huge, negative):
    // every output sample is the saturated scalar formula, whichever kernel
    // ran.
    for (double g : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                     std::nan(""), 1e300, -1e300, -1.0, 0.0, 1e-300}) {
        ASSERT_EQ(vantir3::ConstGain(out, in, g), 0) << g;
        for (int32_t j = 0; j <= 3; ++j) {
            for (int32_t i = 0; i <= 15; ++i) {
                const double x = SampleAt(in, i, j);
                ASSERT_EQ(SampleAt(out, i, j), vantir3::FloorSaturate16(0.5 + g * x)) << g << " " << i;
            }
        }
    }

    // The same buffer as input and output: gained in place.
    EXPECT_EQ(vantir3::ConstGain(in, in, 1.0), 0);
    EXPECT_EQ(SampleAt(in, 5, 2), 498);
    EXPECT_EQ(in.storage->refCount, 1u);
    MeboDataPtrRelease(&in);
    MeboDataPtrRelease(&out);
}

TEST(HostileInput, ParameterTextsOfEveryShape) {
    CCdpProcessToolbox toolbox;
    for (CCdpProcess* p : EveryProcess(toolbox)) {
        const std::string name = p->GetDeclaration(-1);
        const std::string defaults = p->GetParams();
        ASSERT_FALSE(defaults.empty()) << name;
        const std::string firstLine = defaults.substr(0, defaults.find('\n'));
        const std::string code = firstLine.substr(0, 7);  // "CODE=" of the first parameter

        // Megabytes of garbage, one endless line without "=", NULs only:
        // malformed at line 1, nothing changed.
        EXPECT_EQ(p->SetParams(std::string(1 << 22, 'Z').c_str()), -1) << name;
        EXPECT_LT(p->SetParams((std::string(1 << 20, '\n') + "??").c_str()), 0) << name;
        EXPECT_EQ(p->GetParams(), defaults) << name;

        // Two hundred thousand copies of the current first line: all applied.
        std::string many;
        for (int k = 0; k < 200000; ++k) many += firstLine + "\n";
        EXPECT_EQ(p->SetParams(many.c_str()), 0) << name;
        EXPECT_EQ(p->GetParams(), defaults) << name;

        // A value of a million digits: out of range (an infinite number)
        // or, with leading zeros, the small number behind them.
        EXPECT_GT(p->SetParams((code + std::string(1000000, '9')).c_str()), 0) << name;
        EXPECT_EQ(p->GetParams(), defaults) << name;
        const std::string value = firstLine.substr(7);
        if (value[0] != '-') {
            EXPECT_EQ(p->SetParams((code + std::string(1000000, '0') + value).c_str()), 0) << name;
            EXPECT_EQ(p->GetParams(), defaults) << name;
        }
        // Exponents far beyond the doubles.
        EXPECT_GT(p->SetParams((code + "1e999999999999999999999").c_str()), 0) << name;
        EXPECT_EQ(p->GetParams(), defaults) << name;

        // An embedded NUL ends the text: what follows it is never read.
        const std::string withNul = firstLine + std::string(1, '\0') + "garbage";
        EXPECT_EQ(p->SetParams(withNul.c_str()), 0) << name;
        EXPECT_EQ(p->SetParams(std::string(1, '\0').c_str()), 0) << name;
        EXPECT_EQ(p->SetParams(nullptr), p->SetParams("")) << name;
        // Control and high bytes in the value and the code.
        EXPECT_NE(p->SetParams((code + "\x01\xff\x7f").c_str()), -9999) << name;
        EXPECT_LT(p->SetParams("\xff\xfe\xfd\xfc\xfb\xfa=1"), 0) << name;
        EXPECT_EQ(p->SetParams(defaults.c_str()), 0) << name;
        EXPECT_EQ(p->GetParams(), defaults) << name;
    }
}

TEST(HostileInput, DeclarationIndicesAtTheEndsOfTheRange) {
    CCdpProcessToolbox toolbox;
    for (unsigned i = 0; i < toolbox.GetAvailableProcessCount(); ++i) {
        const unsigned uid = static_cast<unsigned>(toolbox.GetAvailableProcessUID(i, nullptr));
        CCdpProcess* p = toolbox.GetProcess(uid);
        const int count = static_cast<int>(p->GetParamCount());
        for (int index : {INT_MIN, INT_MIN + 1, -1000000, -3, count, count + 1, 1000000, INT_MAX - 1, INT_MAX}) {
            std::string out = "stale";
            EXPECT_EQ(p->GetDeclaration(index), "") << uid << " " << index;
            EXPECT_FALSE(p->GetDeclaration(out, index));
            EXPECT_EQ(out, "");
            EXPECT_EQ(toolbox.GetDeclaration(uid, index), "");
            EXPECT_FALSE(toolbox.GetDeclaration(out, uid, index));
        }
    }
    // Identifiers of no process type, including ones with bits above the
    // 30 that codes use.
    for (unsigned uid : {0u, 1u, 0xFFFFFFFFu, 0x40000000u | kConst, KOL::Str2UID("GAIN@@")}) {
        EXPECT_EQ(toolbox.GetDeclaration(uid, 0), "");
        EXPECT_EQ(toolbox.GetDeclaration(uid, -1), "");
        EXPECT_EQ(toolbox.GetDeclarationParamCount(uid), 0u);
        EXPECT_EQ(toolbox.GetProcess(uid), nullptr);
    }
    CCdpProcessToolbox::SProcessTypeDef row;
    row.name = "untouched";
    EXPECT_EQ(toolbox.GetAvailableProcessUID(UINT_MAX, &row), 0ul);
    EXPECT_EQ(row.name, "untouched");
    EXPECT_EQ(toolbox.SetProcessParamsToDefaults(nullptr), 0);

    // A chain asked for positions far outside its steps.
    vantir3_test::TestSource source(8, 2);
    CProcessChain chain(&source);
    EXPECT_FALSE(chain.AddProcess(kConst, INT_MAX, false));
    EXPECT_TRUE(chain.AddProcess(kConst, INT_MIN, false));
    EXPECT_FALSE(chain.RemoveProcess(UINT32_MAX));
    EXPECT_EQ(chain.GetProcessPtr(UINT32_MAX), nullptr);
    EXPECT_EQ(chain.Size(), 1u);
}

// ---- static entry points of the toolbox --------------------------------
//
// Every entry point gets buffers and numbers outside the ones it is made
// for: empty buffers, 32-bit elements, a single sample, transposed views,
// zero, negative, tiny, huge and not-a-number sample intervals, frequencies,
// velocities and time zeros, windows far larger than the trace. Whatever
// status it returns, its input must be unchanged (record and samples), its
// output must still be a valid view of its own storage, no reference may be
// left behind, and the sanitizer build must see no invalid access.

const double kNaN = std::nan("");
const double kInf = std::numeric_limits<double>::infinity();

// A 16-bit profile of n0 x n1 x n2 samples from the test profile.
MeboDataPtr Profile(int32_t n0, int32_t n1, int32_t n2) {
    return MakeBuffer(0, n0 - 1, 0, n1 - 1, 0, n2 - 1, vantir3_test::ProfileSample);
}

MeboDataPtr Zeroed(int32_t elemSize, int32_t n0, int32_t n1, int32_t n2) {
    MeboDataPtr b;
    MeboDataPtrClear(&b);
    MeboDataPtrAllocate(&b, elemSize, 0, n0 - 1, 0, n1 - 1, 0, n2 - 1, 1);
    return b;
}

std::vector<uint8_t> StorageBytes(const MeboDataPtr& b) {
    if (b.storage == nullptr) return {};
    return std::vector<uint8_t>(b.storage->data, b.storage->data + b.storage->byteSize);
}

// A buffer that holds storage views a region inside it and its cursor is on
// a sample of the view; the storage has exactly `refs` holders.
void ExpectDefined(const MeboDataPtr& b, uint32_t refs, const char* which) {
    SCOPED_TRACE(which);
    if (b.storage == nullptr) {
        EXPECT_TRUE(IsEmpty(b));
        return;
    }
    EXPECT_EQ(b.storage->refCount, refs);
    const Mebo3DDataAxis& a = b.axis;
    EXPECT_EQ(a.elemSize, b.storage->layout.elemSize);
    bool addressable = true;
    for (int k = 0; k < 3; ++k) addressable = addressable && a.dim[k].min <= a.dim[k].max;
    if (!addressable) return;
    const intptr_t data = reinterpret_cast<intptr_t>(b.storage->data);
    const intptr_t last = data + b.storage->byteSize - a.elemSize;
    intptr_t hi = reinterpret_cast<intptr_t>(a.base);
    for (int k = 0; k < 3; ++k) hi += static_cast<intptr_t>(a.dim[k].max - a.dim[k].min) * a.dim[k].stride;
    EXPECT_GE(reinterpret_cast<intptr_t>(a.base), data);
    EXPECT_LE(reinterpret_cast<intptr_t>(a.base), last);
    EXPECT_GE(hi, data);
    EXPECT_LE(hi, last);
}

// The buffer shapes every entry point is given: {input, output}.
struct Case {
    std::string name;
    MeboDataPtr in;
    MeboDataPtr out;
};

std::vector<Case> HostileBuffers() {
    std::vector<Case> cases;
    auto add = [&](const std::string& name, MeboDataPtr in, MeboDataPtr out) {
        cases.push_back(Case{name, in, out});
    };
    MeboDataPtr empty;
    MeboDataPtrClear(&empty);
    add("ordinary 48x6x1", Profile(48, 6, 1), Zeroed(2, 48, 6, 1));
    add("both empty", empty, empty);
    add("empty output", Profile(48, 6, 1), empty);
    add("empty input", empty, Zeroed(2, 48, 6, 1));
    add("32-bit elements", Zeroed(4, 48, 6, 1), Zeroed(4, 48, 6, 1));
    add("32-bit output", Profile(48, 6, 1), Zeroed(4, 48, 6, 1));
    add("one sample", Profile(1, 1, 1), Zeroed(2, 1, 1, 1));
    add("two samples, two planes", Profile(2, 1, 2), Zeroed(2, 2, 1, 2));
    MeboDataPtr tin = Profile(48, 6, 1), tout = Zeroed(2, 48, 6, 1);
    MeboDataPtrSwapAxes(&tin, 0, 1);
    MeboDataPtrSwapAxes(&tout, 0, 1);
    add("transposed", tin, tout);
    return cases;
}

// Runs call over every hostile buffer pair and checks what must hold
// afterwards whatever the status.
void ForEveryBufferPair(const std::function<int(MeboDataPtr&, const MeboDataPtr&)>& call) {
    for (Case& c : HostileBuffers()) {
        SCOPED_TRACE(c.name);
        const MeboDataPtr inRecord = c.in;
        const std::vector<uint8_t> inBytes = StorageBytes(c.in);
        call(c.out, c.in);
        EXPECT_EQ(std::memcmp(&inRecord, &c.in, sizeof inRecord), 0) << "input record changed";
        EXPECT_TRUE(StorageBytes(c.in) == inBytes) << "input samples changed";
        ExpectDefined(c.in, 1, "input");
        ExpectDefined(c.out, 1, "output");
        MeboDataPtrRelease(&c.in);
        MeboDataPtrRelease(&c.out);
    }
}

TEST(HostileStaticEntry, DewowAndSec2Gain) {
    const double intervals[] = {0.4, 0.0, -0.4, 1e-300, 1e300, kNaN, kInf};
    const double frequencies[] = {250.0, 0.0, -250.0, 1e-300, 1e300, kNaN};
    for (double dt : intervals) {
        for (double f : frequencies) {
            SCOPED_TRACE("dt " + std::to_string(dt) + " f " + std::to_string(f));
            for (double window : {1.33, 0.0, -5.0, 1e9, kNaN}) {
                ForEveryBufferPair([&](MeboDataPtr& out, const MeboDataPtr& in) {
                    return CCdpProcessToolbox::CdpDewow(out, in, nullptr, window, f, dt);
                });
            }
            // An averaged-trace buffer of every shape.
            ForEveryBufferPair([&](MeboDataPtr& out, const MeboDataPtr& in) {
                MeboDataPtr aux = Zeroed(2, 48, 1, 1);
                const int r = CCdpProcessToolbox::CdpDewow(out, in, &aux, 1.33, f, dt);
                ExpectDefined(aux, 1, "aux");
                MeboDataPtrRelease(&aux);
                aux = Zeroed(4, 1, 1, 1);
                CCdpProcessToolbox::CdpDewow(out, in, &aux, 1.33, f, dt);
                MeboDataPtrRelease(&aux);
                CCdpProcessToolbox::CdpDewow(out, in, &aux, 1.33, f, dt);  // empty aux
                ExpectDefined(aux, 1, "empty aux");
                return r;
            });
            for (double t0 : {10.5, 0.0, -1e9, 1e9, kNaN}) {
                ForEveryBufferPair([&](MeboDataPtr& out, MeboDataPtr const& in) {
                    int last = 12345;
                    MeboDataPtr& input = const_cast<MeboDataPtr&>(in);  // taken by reference, never written
                    CCdpProcessToolbox::CdpSec2Gain(out, input, 5.0, 1.0, 500.0, t0, dt, f, &last);
                    CCdpProcessToolbox::CdpSec2Gain(out, input, -1e300, 1e-300, 1e300, t0, dt, f, nullptr);
                    return CCdpProcessToolbox::CdpSec2Gain(out, input, kNaN, kNaN, kNaN, t0, dt, f, &last);
                });
            }
        }
    }
}

TEST(HostileStaticEntry, BackgroundSubtraction) {
    for (int window : {0, 1, 2, 6, 7, 1000, -1, INT_MAX, INT_MIN}) {
        SCOPED_TRACE("window " + std::to_string(window));
        ForEveryBufferPair([&](MeboDataPtr& out, const MeboDataPtr& in) {
            MeboDataPtr& input = const_cast<MeboDataPtr&>(in);  // taken by reference, never written
            const int r = CCdpProcessToolbox::CdpBackgroundSubtract(out, input, nullptr, window);
            // Background traces that are too short, of 32-bit samples,
            // empty, or transposed.
            for (MeboDataPtr background :
                 {Profile(48, 1, 1), Profile(3, 1, 1), Zeroed(4, 48, 1, 1), Profile(1, 48, 1)}) {
                CCdpProcessToolbox::CdpBackgroundSubtract(out, input, &background, window);
                ExpectDefined(background, 1, "background");
                MeboDataPtrRelease(&background);
            }
            MeboDataPtr empty;
            MeboDataPtrClear(&empty);
            CCdpProcessToolbox::CdpBackgroundSubtract(out, input, &empty, window);
            return r;
        });
    }
}

TEST(HostileStaticEntry, Reductions) {
    CCdpProcessToolbox toolbox;
    // Outputs of every length against every input, both ways round.
    for (int32_t ni : {1, 2, 7, 48}) {
        for (int32_t no : {1, 2, 3, 47, 48, 100}) {
            SCOPED_TRACE(std::to_string(ni) + " to " + std::to_string(no));
            for (int axis : {0, 1, 2, -1, 7, INT_MIN, INT_MAX}) {
                MeboDataPtr in = Profile(ni, 5, 2);
                MeboDataPtr out = Zeroed(2, no, 5, 2);
                CCdpProcessToolbox::CdpMinMaxReduction(out, in);
                toolbox.CdpDecimation(out, in);
                CCdpProcessToolbox::CdpAverageReduction(out, in, axis);
                ExpectDefined(out, 1, "output");
                MeboDataPtrRelease(&in);
                MeboDataPtrRelease(&out);
            }
        }
    }
    for (int axis : {0, 1, 2, -1}) {
        ForEveryBufferPair([&](MeboDataPtr& out, const MeboDataPtr& in) {
            CCdpProcessToolbox::CdpMinMaxReduction(out, in);
            toolbox.CdpDecimation(out, in);
            return CCdpProcessToolbox::CdpAverageReduction(out, in, axis);
        });
    }
    // A group sum that cannot fit 32 bits: refused, nothing written.
    MeboDataPtr in = Profile(70000, 1, 1);
    MeboDataPtr out = Zeroed(2, 1, 1, 1);
    EXPECT_EQ(CCdpProcessToolbox::CdpAverageReduction(out, in, 0), -6);
    EXPECT_EQ(SampleAt(out, 0, 0), 0);
    MeboDataPtrRelease(&in);
    MeboDataPtrRelease(&out);
}

TEST(HostileStaticEntry, EnvelopeAndMigration) {
    for (int window : {0, 1, 2, 47, 48, 49, 1000, -1, -1000, INT_MAX, INT_MIN}) {
        SCOPED_TRACE("window " + std::to_string(window));
        ForEveryBufferPair([&](MeboDataPtr& out, const MeboDataPtr& in) {
            SCDPPrc_DataStatsMode stats;
            SCDPPrc_InitStats(&stats);
            stats.mode = STATS_MINMAX | STATS_SUM | STATS_EXTREMES;
            stats.numExtremes = 255;
            MeboDataPtr index;
            MeboDataPtrClear(&index);
            stats.indexStats = &index;
            const int r = CCdpProcessToolbox::CdpEnvelope(out, in, stats, window);
            ExpectDefined(index, 1, "index statistics");
            MeboDataPtrRelease(&index);
            SCDPPrc_InitStats(&stats);
            CCdpProcessToolbox::CdpEnvelope(out, in, stats, window);
            return r;
        });
    }
    for (double v : {0.1, 0.0, -0.1, 1e-300, 1e300, kNaN}) {
        for (double dt : {0.4, 0.0, -0.4, 1e-300, kNaN}) {
            SCOPED_TRACE("v " + std::to_string(v) + " dt " + std::to_string(dt));
            ForEveryBufferPair([&](MeboDataPtr& out, const MeboDataPtr& in) {
                for (double start : {0.0, 10.5, -5.0, 47.0, 1e9, kNaN}) {
                    for (double dx : {0.05, 0.0, -1.0, kNaN}) {
                        CCdpProcessToolbox::CdpMigrate(out, in, v, start, dx, dt);
                    }
                }
                return 0;
            });
        }
    }
}

TEST(HostileStaticEntry, DeseparationAndTopographicShift) {
    const double values[] = {0.1, 0.0, -0.1, 1e-300, 1e300, kNaN, kInf};
    for (double v : values) {
        for (double dt : values) {
            SCOPED_TRACE("v " + std::to_string(v) + " dt " + std::to_string(dt));
            ForEveryBufferPair([&](MeboDataPtr& out, const MeboDataPtr& in) {
                for (double s : {0.5, 0.0, -1.0, 1e300, kNaN}) {
                    for (double t0 : {10.5, 0.0, -3.0, 1e9, kNaN}) {
                        CCdpProcessToolbox::CdpDeseparate(out, in, v, s, t0, dt);
                    }
                }
                return 0;
            });
            for (double t0 : {10.5, 0.0, -3.0, 1e9, kNaN}) {
                for (unsigned long outSpan : {0ul, 1ul, 47ul, 1000000ul, ULONG_MAX}) {
                    for (unsigned long inSpan : {0ul, 1ul, 47ul, ULONG_MAX}) {
                        CCdpProcessToolbox::GroundZeroSampleIdx(outSpan, inSpan, v, 0.5, t0, dt);
                        CCdpProcessToolbox::GroundZeroSampleIdx(outSpan, inSpan, v, kNaN, t0, dt);
                    }
                }
            }
        }
    }
    // Elevations: none, of the wrong element size, not numbers, huge, or
    // far from a huge datum.
    std::vector<MeboDataPtr> elevations;
    MeboDataPtr none;
    MeboDataPtrClear(&none);
    elevations.push_back(none);
    elevations.push_back(Zeroed(2, 48, 1, 1));
    for (double h : {0.0, kNaN, kInf, -1e308, 1e308}) {
        MeboDataPtr e = Zeroed(8, 48, 1, 2);
        double* p = reinterpret_cast<double*>(e.storage->data);
        for (int k = 0; k < 96; ++k) p[k] = h;
        elevations.push_back(e);
    }
    for (MeboDataPtr& e : elevations) {
        for (double v : {0.1, 0.0, -0.1, kNaN}) {
            for (double dt : {0.4, 0.0, kNaN}) {
                SCOPED_TRACE("v " + std::to_string(v) + " dt " + std::to_string(dt));
                ForEveryBufferPair([&](MeboDataPtr& out, const MeboDataPtr& in) {
                    for (double datum : {0.0, 12.5, -DBL_MAX, DBL_MAX, kNaN}) {
                        for (double t0 : {10.5, 0.0, 1e9, kNaN}) {
                            CCdpProcessToolbox::CdpTopoShift(out, in, e, v, datum, 0.0, 0.5, t0, dt);
                            CCdpProcessToolbox::CdpComboShift(out, in, e, v, datum, kNaN, 1e300, t0, dt);
                        }
                    }
                    return 0;
                });
                ExpectDefined(e, 1, "elevation");
            }
        }
        MeboDataPtrRelease(&e);
    }
}

TEST(HostileStaticEntry, Sec2AutomaticSetUp) {
    CCdpProcessToolbox toolbox;
    // Statistics of an ordinary profile, and of no data at all.
    MeboDataPtr profile = Profile(64, 8, 1);
    MeboDataPtr stats;
    MeboDataPtrClear(&stats);
    toolbox.GetDataMinMaxStats(stats, profile, false);
    ExpectDefined(stats, 1, "statistics");
    ForEveryBufferPair([&](MeboDataPtr& out, const MeboDataPtr& in) {
        (void)out;
        MeboDataPtr gathered;
        MeboDataPtrClear(&gathered);
        toolbox.GetDataMinMaxStats(gathered, in, false);
        toolbox.GetDataMinMaxStats(gathered, in, true);
        ExpectDefined(gathered, 1, "gathered");
        MeboDataPtrRelease(&gathered);
        return 0;
    });

    MeboDataPtr empty;
    MeboDataPtrClear(&empty);
    MeboDataPtr wrong = Zeroed(4, 64, 1, 1);  // statistics of the wrong element size
    for (MeboDataPtr* st : {&stats, &empty, &wrong, static_cast<MeboDataPtr*>(nullptr)}) {
        for (double dt : {0.4, 0.0, -0.4, kNaN}) {
            for (double f : {250.0, 0.0, -250.0, kNaN}) {
                for (double t0 : {10.5, 0.0, -5.0, 1e9, kNaN}) {
                    SCOPED_TRACE("dt " + std::to_string(dt) + " f " + std::to_string(f) + " t0 " +
                                 std::to_string(t0));
                    ICdpDataSource::SEGprParam gpr = DefaultGprParam();
                    gpr.sampleInterval = dt;
                    gpr.antennaFrequency = f;
                    gpr.timeZeroSample = t0;
                    Sec2GainParam result{5.0, 1.0, 500.0};
                    CCdpProcessToolbox::SecAutoSetParamStruct(&result, &gpr, 500.0, 0.5, 1.0, 1.0, st, 50, 80);
                    CCdpProcessToolbox::SecAutoSetParamStruct(&result, &gpr, 1e300, 1e-300, kNaN, 1e-300, st,
                                                              UINT_MAX, 0);
                    CCdpProcessToolbox::SecAutoSetParamStruct(&result, &gpr, kNaN, kNaN, kNaN, kNaN, st, 0,
                                                              UINT_MAX);
                }
            }
        }
        if (st != nullptr) ExpectDefined(*st, 1, "statistics after set-up");
    }
    MeboDataPtrRelease(&wrong);
    MeboDataPtrRelease(&stats);
    MeboDataPtrRelease(&profile);
}

}  // namespace
