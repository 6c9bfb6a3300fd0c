// Framework entry points fed with inputs outside the ones they are made for:
// odd buffers from sources, parameter texts of megabytes, indices at the ends
// of the int range, and static entry points given odd buffers and geometry.
// Each call must answer with a status code (or an empty text), leave its input
// unchanged and its output a valid view of its own storage; in the sanitizer
// build any out-of-bounds access or undefined behaviour fails the run.
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kol_utils/kol_utils.h"
#include "tests/support/test_source.h"
#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/process_chain.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/numeric/statistics.h"

namespace {

using namespace vantir3_test;

const uint32_t kConst = KOL::Str2UID("CONST@");
const double kNaN = std::nan("");
const double kInf = std::numeric_limits<double>::infinity();

// A raw source that answers every request with the buffer `make` gives.
class OddSource : public ICdpDataSource {
public:
    OddSource(std::function<MeboDataPtr()> make, int status) : make_(std::move(make)), status_(status) {}
    const SEGprParam* GprParamPtr() const override { return &gpr_; }
    bool GetAvailableRange(Mebo3DDataAxis*, int) const override { return false; }
    bool SourceChanged(const void*) const override { return false; }
    uint32_t EdgeEffect(bool) const override { return UINT32_MAX; }
    int GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis*, const void*) const override {
        MeboDataPtrRelease(&out);
        out = make_();
        return status_;
    }

private:
    std::function<MeboDataPtr()> make_;
    int status_;
    SEGprParam gpr_ = DefaultGprParam();
};

// Traces on axis 0, samples on axis 1.
MeboDataPtr TransposedProfile() {
    MeboDataPtr b = MakeBuffer(0, 40, 0, 6, 0, 1, ProfileSample);
    MeboDataPtrSwapAxes(&b, 0, 1);
    return b;
}

// A window in the middle of larger storage.
MeboDataPtr NarrowedProfile() {
    MeboDataPtr b = MakeBuffer(0, 63, 0, 9, 0, 0, ProfileSample);
    Mebo3DDataAxis view = b.axis;
    view.dim[0] = {view.dim[0].stride, 10, 40};
    view.dim[1] = {view.dim[1].stride, 3, 7};
    MeboDataPtrSetView(&b, &view, 0);
    return b;
}

// Every process type of the catalogue, created by the given toolbox.
std::vector<CCdpProcess*> EveryProcess(CCdpProcessToolbox& toolbox) {
    std::vector<CCdpProcess*> processes;
    for (unsigned i = 0; i < toolbox.GetAvailableProcessCount(); ++i)
        processes.push_back(toolbox.GetProcess(static_cast<unsigned>(toolbox.GetAvailableProcessUID(i, nullptr))));
    return processes;
}

std::vector<uint8_t> StorageBytes(const MeboDataPtr& b) {
    if (b.storage == nullptr) return {};
    return std::vector<uint8_t>(b.storage->data, b.storage->data + b.storage->byteSize);
}

// Either empty, or storage with a single holder whose view (when it has
// addressable samples) lies inside the storage.
void ExpectDefined(const MeboDataPtr& b, const char* which) {
    SCOPED_TRACE(which);
    EXPECT_TRUE(b.storage != nullptr || IsEmpty(b));
    if (b.storage == nullptr) return;
    EXPECT_EQ(b.storage->refCount, 1u);
    const Mebo3DDataAxis& a = b.axis;
    EXPECT_EQ(a.elemSize, b.storage->layout.elemSize);
    const intptr_t data = reinterpret_cast<intptr_t>(b.storage->data), base = reinterpret_cast<intptr_t>(a.base);
    const intptr_t last = data + b.storage->byteSize - a.elemSize;
    intptr_t hi = base;
    for (int k = 0; k < 3; ++k) {
        if (a.dim[k].min > a.dim[k].max) return;
        hi += static_cast<intptr_t>(a.dim[k].max - a.dim[k].min) * a.dim[k].stride;
    }
    EXPECT_TRUE(base >= data && base <= last && hi >= data && hi <= last);
}

TEST(HostileInput, SourcesHandingBackOddBuffers) {
    CCdpProcessToolbox toolbox;
    const std::vector<CCdpProcess*> processes = EveryProcess(toolbox);
    ASSERT_FALSE(processes.empty());
    Mebo3DDataAxis region{};
    MeboDataPtr out = Empty();
    // An empty buffer, even with a success status, is nothing to process (-1);
    // a failing source's status comes back unchanged; the output stays empty.
    // Other element sizes, no addressable samples (max < min), transposed or
    // narrowed views: any status (kAny), but an output that is empty or
    // allocated with the input's element size and a single reference, and is
    // there on success.
    const int kAny = 1;
    struct Case { std::function<MeboDataPtr()> make; int status, want; };
    const Case cases[] = {{Empty, 0, -1}, {Empty, 5, -1}, {[] { return Zeroed(2, 8, 8); }, -77, -77},
                          {[] { return Zeroed(4, 32, 6); }, 0, kAny}, {[] { return Zeroed(1, 32, 6); }, 0, kAny},
                          {TransposedProfile, 0, kAny}, {NarrowedProfile, 0, kAny},
                          {[] { return MakeBuffer(3, 0, 0, 2, 0, 0, ProfileSample); }, 0, kAny},
                          // Trace and section indices that end at the largest
                          // 32-bit value or start at the smallest.
                          {[] { return MakeBuffer(0, 40, INT32_MAX - 6, INT32_MAX, INT32_MAX - 1, INT32_MAX,
                                                  ProfileSample); }, 0, kAny},
                          {[] {
                               MeboDataPtr b = MakeBuffer(INT32_MAX - 6, INT32_MAX, 0, 40, INT32_MAX - 1,
                                                          INT32_MAX, ProfileSample);
                               MeboDataPtrSwapAxes(&b, 0, 1);
                               return b;
                           }, 0, kAny},
                          {[] { return MakeBuffer(0, 40, INT32_MIN, INT32_MIN + 6, INT32_MIN, INT32_MIN + 1,
                                                  ProfileSample); }, 0, kAny}};
    for (const Case& c : cases) {
        OddSource source(c.make, c.status);
        Owned expected = c.make();
        for (CCdpProcess* p : processes) {
            p->SetDataSource(&source);
            const int status = p->GetDataCdp(out, &region, nullptr);
            SCOPED_TRACE(p->GetDeclaration(-1) + " status " + std::to_string(status));
            EXPECT_TRUE(c.want == kAny ? status < 0 || out.storage != nullptr : status == c.want && IsEmpty(out));
            EXPECT_TRUE(out.storage == nullptr || out.axis.elemSize == expected.b.axis.elemSize);
            ExpectDefined(out, "output");
            MeboDataPtrRelease(&out);
        }
    }
    // The constant gain gains a transposed source's samples where the source
    // put them; the raw source's edge effect passes through.
    CCdpProcess* gain = toolbox.GetProcess(kConst);
    OddSource transposed(TransposedProfile, 0);
    gain->SetDataSource(&transposed);
    ASSERT_EQ(gain->SetParams("GAIN@@=2.00"), 0);
    ASSERT_EQ(gain->GetDataCdp(out, &region, nullptr), 0);
    for (int32_t t = 0; t <= 6; ++t)
        for (int32_t s = 0; s <= 40; s += 8)
            EXPECT_EQ(SampleAt(out, t, s, 1), vantir3::FloorSaturate16(0.5 + 2.0 * ProfileSample(s, t, 1)));
    MeboDataPtrRelease(&out);
    EXPECT_EQ(gain->EdgeEffect(true), UINT32_MAX);
}

TEST(HostileInput, ParameterTextsAndIndicesOfEveryShape) {
    CCdpProcessToolbox toolbox;
    for (CCdpProcess* p : EveryProcess(toolbox)) {
        const std::string name = p->GetDeclaration(-1), defaults = p->GetParams();
        ASSERT_FALSE(defaults.empty()) << name;
        const std::string firstLine = defaults.substr(0, defaults.find('\n'));
        const std::string code = firstLine.substr(0, 7), value = firstLine.substr(7);  // "CODE@@=", value
        std::string many;
        for (int k = 0; k < 200000; ++k) many += firstLine + "\n";
        // Megabytes of garbage, of line breaks before a malformed line, and a
        // code of high bytes: malformed line 1. Two hundred thousand copies of
        // the current first line: all applied. A million digits or a huge
        // exponent: out of range; behind a million leading zeros, the value
        // itself. An embedded NUL ends the text. Nothing ever changes.
        const std::pair<std::string, int> texts[] = {
            {std::string(1 << 22, 'Z'), -1}, {std::string(1 << 20, '\n') + "??", -1},
            {"\xff\xfe\xfd\xfc\xfb\xfa=1", -1}, {many, 0}, {code + std::string(1000000, '9'), 1},
            {code + "1e999999999999999999999", 1}, {firstLine + std::string(1, '\0') + "garbage", 0},
            {value[0] == '-' ? firstLine : code + std::string(1000000, '0') + value, 0}};
        for (const auto& t : texts) {
            EXPECT_EQ(p->SetParams(t.first.c_str()), t.second) << name << " " << t.first.substr(0, 40);
            EXPECT_EQ(p->GetParams(), defaults) << name;
        }
        EXPECT_EQ(p->SetParams(nullptr), p->SetParams("")) << name;
        for (int index : {INT_MIN, INT_MAX})  // declaration indices at the ends of the int range
            EXPECT_EQ(p->GetDeclaration(index) + toolbox.GetDeclaration(p->GetProcessUID(), index), "") << name;
    }
    // An identifier with bits above the 30 that codes use; chain positions far
    // outside its steps (the lowest one inserts in front).
    EXPECT_EQ(toolbox.GetDeclaration(0x40000000u | kConst, -1), "");
    TestSource source(8, 2);
    CProcessChain chain(&source);
    EXPECT_FALSE(chain.AddProcess(kConst, INT_MAX, false) || chain.RemoveProcess(UINT32_MAX));
    EXPECT_TRUE(chain.AddProcess(kConst, INT_MIN, false));
}

// Runs call over every hostile {input, output} pair and checks what must
// hold afterwards whatever the status.
void ForEveryBufferPair(const std::function<void(MeboDataPtr&, MeboDataPtr&)>& call) {
    auto profile = [](int n0, int n1, int n2) { return MakeBuffer(0, n0 - 1, 0, n1 - 1, 0, n2 - 1, ProfileSample); };
    MeboDataPtr tin = profile(48, 6, 1), tout = Zeroed(2, 48, 6);
    MeboDataPtrSwapAxes(&tin, 0, 1);
    MeboDataPtrSwapAxes(&tout, 0, 1);
    // Traces and sections whose indices end at the largest 32-bit value, or
    // start at the smallest (samples, traces innermost in the second pair).
    const int32_t top = INT32_MAX, bottom = INT32_MIN;
    auto at = [](int32_t s0, int32_t s1, int32_t t0, int32_t t1, int32_t p0, int32_t p1, bool zero) {
        return MakeBuffer(s0, s1, t0, t1, p0, p1, [zero](int32_t s, int32_t t, int32_t p) {
            return zero ? int16_t{0} : ProfileSample(s, t, p);
        });
    };
    MeboDataPtr rowIn = at(top - 5, top, 0, 47, top - 1, top, false);
    MeboDataPtr rowOut = at(top - 5, top, 0, 47, top - 1, top, true);
    MeboDataPtrSwapAxes(&rowIn, 0, 1);
    MeboDataPtrSwapAxes(&rowOut, 0, 1);
    struct Case { const char* name; MeboDataPtr in, out; };
    for (Case c : {Case{"ordinary", profile(48, 6, 1), Zeroed(2, 48, 6)}, Case{"both empty", Empty(), Empty()},
                   Case{"empty output", profile(48, 6, 1), Empty()}, Case{"empty input", Empty(), Zeroed(2, 48, 6)},
                   Case{"32-bit", Zeroed(4, 48, 6), Zeroed(4, 48, 6)},
                   Case{"32-bit output", profile(48, 6, 1), Zeroed(4, 48, 6)},
                   Case{"one sample", profile(1, 1, 1), Zeroed(2, 1)},
                   Case{"two planes", profile(2, 1, 2), Zeroed(2, 2, 1, 2)}, Case{"transposed", tin, tout},
                   Case{"indices at the top", at(0, 47, top - 5, top, top - 1, top, false),
                        at(0, 47, top - 5, top, top - 1, top, true)},
                   Case{"transposed, indices at the top", rowIn, rowOut},
                   Case{"indices at the bottom", at(0, 47, bottom, bottom + 5, bottom, bottom + 1, false),
                        at(0, 47, bottom, bottom + 5, bottom, bottom + 1, true)}}) {
        SCOPED_TRACE(c.name);
        const MeboDataPtr inRecord = c.in;
        const std::vector<uint8_t> inBytes = StorageBytes(c.in);
        call(c.out, c.in);
        EXPECT_EQ(std::memcmp(&inRecord, &c.in, sizeof inRecord), 0) << "input record changed";
        EXPECT_TRUE(StorageBytes(c.in) == inBytes) << "input samples changed";
        ExpectDefined(c.in, "input");
        ExpectDefined(c.out, "output");
        MeboDataPtrRelease(&c.in);
        MeboDataPtrRelease(&c.out);
    }
}

// Numbers no parameter text can set, in every position: each entry point
// meets every value, and every pair of values, in its geometry arguments, and
// windows and axes of every size along the way.
TEST(HostileStaticEntry, GeometryWindowsAndAxesOfEveryKind) {
    const double odd[] = {0.4, 10.5, 0.0, -0.4, 1e-300, 1e300, kNaN, kInf};
    const int windows[] = {0, 1, 2, 7, 47, 48, 1000, -1, -1000, INT_MAX, INT_MIN};
    // Elevations: none, of the wrong element size, not numbers, huge.
    std::vector<MeboDataPtr> elevations = {Empty(), Zeroed(2, 48)};
    for (double h : {0.0, kNaN, kInf, -1e308}) {
        elevations.push_back(Zeroed(8, 48, 1, 2));
        std::fill_n(reinterpret_cast<double*>(elevations.back().storage->data), 96, h);
    }
    // Statistics for the automatic SEC2 set-up of a profile.
    CCdpProcessToolbox toolbox;
    Owned profile = MakeBuffer(0, 63, 0, 7, 0, 0, ProfileSample), stats;
    toolbox.GetDataMinMaxStats(stats.b, profile.b, false);
    for (int k = 0; k < 64; ++k) {
        const double x = odd[k % 8], y = odd[k / 8];
        const int window = windows[k % 11];
        SCOPED_TRACE(std::to_string(x) + " " + std::to_string(y) + " window or axis " + std::to_string(window));
        const ICdpDataSource::SEGprParam gpr = {0.0, y, x, y, 0.5};  // time zero, interval, frequency, separation
        Sec2GainParam result{5.0, 1.0, 500.0};
        CCdpProcessToolbox::SecAutoSetParamStruct(&result, &gpr, x, 0.5, y, 1.0, &stats.b, 50, 80);
        for (unsigned long outSpan : {0ul, 1ul, 47ul, ULONG_MAX})
            for (unsigned long inSpan : {0ul, 47ul, ULONG_MAX})
                CCdpProcessToolbox::GroundZeroSampleIdx(outSpan, inSpan, x, 0.5, y, x);
        ForEveryBufferPair([&](MeboDataPtr& out, MeboDataPtr& in) {
            Owned gathered;
            toolbox.GetDataMinMaxStats(gathered.b, in, false);
            toolbox.GetDataMinMaxStats(gathered.b, in, true);
            ExpectDefined(gathered.b, "gathered statistics");
            int last = 12345;
            CCdpProcessToolbox::CdpDewow(out, in, nullptr, x, y, x);
            CCdpProcessToolbox::CdpDewow(out, in, nullptr, 1.33, x, y);
            // Averaged-trace buffers of 16 and 32 bits, and an empty one.
            for (MeboDataPtr aux : {Zeroed(2, 48), Zeroed(4, 1), Empty()}) {
                CCdpProcessToolbox::CdpDewow(out, in, &aux, 1.33, y, x);
                ExpectDefined(aux, "aux");
                MeboDataPtrRelease(&aux);
            }
            CCdpProcessToolbox::CdpSec2Gain(out, in, x, y, 500.0, x, y, 250.0, &last);
            CCdpProcessToolbox::CdpSec2Gain(out, in, 5.0, x, y, 10.5, x, y, nullptr);
            CCdpProcessToolbox::CdpDeseparate(out, in, x, y, x, y);
            CCdpProcessToolbox::CdpDeseparate(out, in, 0.1, x, 10.5, y);
            CCdpProcessToolbox::CdpMigrate(out, in, x, y, 0.05, x);
            CCdpProcessToolbox::CdpMigrate(out, in, 0.1, x, y, 0.4);
            for (const MeboDataPtr& e : elevations) {
                CCdpProcessToolbox::CdpTopoShift(out, in, e, x, y, 0.0, 0.5, 10.5, x);
                CCdpProcessToolbox::CdpComboShift(out, in, e, 0.1, x == 0.4 ? DBL_MAX : x, kNaN, y, y, 0.4);
            }
            CCdpProcessToolbox::CdpBackgroundSubtract(out, in, nullptr, window);
            // Background traces too short, of 32-bit samples, transposed, empty.
            for (MeboDataPtr bg : {MakeBuffer(0, 47, 0, 0, 0, 0, ProfileSample), Zeroed(2, 3), Zeroed(4, 48),
                                   Zeroed(2, 1, 48), Empty()}) {
                CCdpProcessToolbox::CdpBackgroundSubtract(out, in, &bg, window);
                ExpectDefined(bg, "background");
                MeboDataPtrRelease(&bg);
            }
            Owned index;
            SCDPPrc_DataStatsMode envelope;
            SCDPPrc_InitStats(&envelope);
            CCdpProcessToolbox::CdpEnvelope(out, in, envelope, window);
            envelope = {STATS_MINMAX | STATS_SUM | STATS_EXTREMES, 255, 0, DBL_MAX, -DBL_MAX, 0, DBL_MAX, -DBL_MAX,
                        &index.b};
            CCdpProcessToolbox::CdpEnvelope(out, in, envelope, window);
            ExpectDefined(index.b, "index statistics");
            CCdpProcessToolbox::CdpMinMaxReduction(out, in);
            toolbox.CdpDecimation(out, in);
            CCdpProcessToolbox::CdpAverageReduction(out, in, window);
        });
    }
    for (MeboDataPtr& e : elevations) {
        ExpectDefined(e, "elevation");
        MeboDataPtrRelease(&e);
    }
}

}  // namespace
