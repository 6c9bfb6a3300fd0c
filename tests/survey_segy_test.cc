// SEG-Y reading (standard and GPR variants) and writing.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/survey_checks.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_data.h"
#include "vantir3_survey/format_io.h"
#include "vantir3_survey/survey.h"

namespace vantir3 {
namespace survey {
namespace {

using vantir3_test::AllValues;
using vantir3_test::ExpectSameFacts;
using vantir3_test::HasWarning;
using vantir3_test::TempDir;

void Put(std::vector<uint8_t>& b, size_t at, uint32_t v, int width, bool big) {
    for (int k = 0; k < width; ++k) {
        const int shift = 8 * (big ? width - 1 - k : k);
        b[at + static_cast<size_t>(k)] = static_cast<uint8_t>(v >> shift);
    }
}

// A small SEG-Y file built byte by byte (1-based byte numbers as in the standard).
struct FileShape {
    bool big = true;
    int format = 3;  // 1 (IBM) or 3 (i16) samples; other codes write i16 bytes
    int samples = 6;
    int traces = 3;
    int interval = 500;
    int extended = 0;
    int delay = 0;
    int coordinateScalar = -100;
    int xStep = 5;  // source x of trace t is t * xStep
    std::string asciiText;  // when given, an ASCII text header instead of the EBCDIC one
};

// IBM single precision words of 1, -2.5, 0.5 and 100.
const uint32_t kIbm[4] = {0x41100000u, 0xC1280000u, 0x40800000u, 0x42640000u};
const double kIbmValues[4] = {1.0, -2.5, 0.5, 100.0};

double ExpectedValue(const FileShape& s, int t, int i) {
    return s.format == 1 ? kIbmValues[(t + i) % 4] : t * 1000 + i * 7 - 20;
}

std::vector<uint8_t> Build(const FileShape& s) {
    const int bytes = s.format == 1 ? 4 : 2;
    const size_t record = 240 + static_cast<size_t>(s.samples * bytes);
    const size_t data = 3600 + 3200 * static_cast<size_t>(s.extended);
    std::vector<uint8_t> b(data + record * static_cast<size_t>(s.traces), 0);
    // "C 1 " in EBCDIC, then EBCDIC spaces.
    for (size_t i = 0; i < 3200; ++i) b[i] = 0x40;
    b[0] = 0xC3;
    b[2] = 0xF1;
    if (!s.asciiText.empty()) {
        std::fill(b.begin(), b.begin() + 3200, ' ');
        std::copy(s.asciiText.begin(), s.asciiText.end(), b.begin());
    }
    for (size_t i = 3600; i < data; ++i) b[i] = 0x40;
    Put(b, 3216, static_cast<uint32_t>(s.interval), 2, s.big);
    Put(b, 3220, static_cast<uint32_t>(s.samples), 2, s.big);
    Put(b, 3224, static_cast<uint32_t>(s.format), 2, s.big);
    Put(b, 3500, 0x0100, 2, s.big);
    Put(b, 3504, static_cast<uint32_t>(s.extended), 2, s.big);
    for (int t = 0; t < s.traces; ++t) {
        const size_t at = data + record * static_cast<size_t>(t);
        Put(b, at + 0, static_cast<uint32_t>(t + 1), 4, s.big);
        Put(b, at + 70, static_cast<uint32_t>(s.coordinateScalar), 2, s.big);
        Put(b, at + 72, static_cast<uint32_t>(t * s.xStep), 4, s.big);
        Put(b, at + 108, static_cast<uint32_t>(s.delay), 2, s.big);
        Put(b, at + 114, static_cast<uint32_t>(s.samples), 2, s.big);
        Put(b, at + 116, static_cast<uint32_t>(s.interval), 2, s.big);
        for (int i = 0; i < s.samples; ++i) {
            const size_t p = at + 240 + static_cast<size_t>(i * bytes);
            if (s.format == 1) {
                Put(b, p, kIbm[(t + i) % 4], 4, s.big);
            } else {
                Put(b, p, static_cast<uint32_t>(static_cast<int32_t>(ExpectedValue(s, t, i))), 2, s.big);
            }
        }
    }
    return b;
}

std::string Written(TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir.File(name);
    vantir3_test::WriteBytes(path, bytes);
    return path;
}

// Writes an open file's traces (as values, or as 16-bit samples) to path.
void Rewrite(const SurveyFile& in, const std::string& path, bool from16, const WriteOptions& options = WriteOptions()) {
    std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, in.acquisitions(), options);
    if (from16) {
        std::vector<int16_t> s(static_cast<size_t>(in.traceCount() * in.sampleCount()));
        in.ReadTraces16(0, 0, in.traceCount(), s.data());
        w->WriteScans16(s.data(), in.traceCount());
    } else {
        const std::vector<double> v = AllValues(in);
        w->WriteScans(v.data(), in.traceCount());
    }
    w->Commit();
}

TEST(SurveySegy, RealExportOpensWithItsFacts) {
    VANTIR3_REQUIRE_DATA(path, "sgy/rgpr_test_export.sgy");
    std::unique_ptr<SurveyFile> f = SurveyFile::Open(path);
    const Acquisition& a = f->acquisition();
    EXPECT_EQ(f->format(), Format::kSegy);
    EXPECT_FALSE(f->layout().bigEndian);
    EXPECT_EQ(f->layout().type, SampleType::kF32);
    EXPECT_EQ(f->layout().dataOffset, 3600);
    EXPECT_EQ(f->traceCount(), 223);
    EXPECT_EQ(f->sampleCount(), 1000);
    EXPECT_EQ(a.sampleIntervalNs, 0.4);
    EXPECT_EQ(a.sampleIntervalSource, "binary header interval 400 read as ps");
    EXPECT_EQ(a.native.text.rfind("A reel identification header", 0), 0u) << "ASCII text header";
    EXPECT_EQ(a.native.fileHeader.size(), 3600u);
    EXPECT_EQ(a.native.traceHeaders.size(), 223u * 240u);
    EXPECT_EQ(a.timeZeroSample, 1.0);
    // Source x steps of 250 with scalar +1000, which this writer means as a divisor.
    EXPECT_DOUBLE_EQ(a.traceSpacingM, 0.25);
    EXPECT_TRUE(HasWarning(a, "read as a divisor"));
    ASSERT_EQ(a.coordinates.size(), 223u);
    EXPECT_EQ(a.coordinates[222].x, 222 * 0.25);
    EXPECT_TRUE(std::isnan(a.antennaFrequencyMHz));
    EXPECT_TRUE(HasWarning(a, "antenna frequency unknown"));
    const std::vector<double> v = AllValues(*f);
    EXPECT_EQ(v[0], -1.0528564453125);
    EXPECT_EQ(v[4], -1.53656005859375);
    EXPECT_EQ(f->acquisition().scale, 1.0 / 512);  // largest magnitude 50

    // Written back as standard SEG-Y: big-endian, EBCDIC, rev 1, same samples and facts.
    TempDir dir;
    const std::string out = dir.File("export.sgy");
    Rewrite(*f, out, false);
    const std::vector<uint8_t> bytes = vantir3_test::ReadBytes(out);
    EXPECT_EQ(bytes[0], 0xC1) << "'A' in EBCDIC";
    EXPECT_EQ(bytes[3500], 0x01);
    EXPECT_EQ(bytes[3225], 5);
    std::unique_ptr<SurveyFile> g = SurveyFile::Open(out);
    EXPECT_TRUE(g->layout().bigEndian);
    EXPECT_EQ(g->layout().type, SampleType::kF32);
    EXPECT_EQ(g->acquisition().native.text.rfind("A reel identification header", 0), 0u);
    ExpectSameFacts(a, g->acquisition());
    EXPECT_EQ(AllValues(*g), v);
}

TEST(SurveySegy, StandardAndLittleEndianFilesReadBack) {
    TempDir dir;
    for (int format : {1, 3}) {
        for (bool big : {true, false}) {
            FileShape s;
            s.format = format;
            s.big = big;
            s.delay = -1000;  // ps, like the interval: time zero two samples in
            std::unique_ptr<SurveyFile> f = SurveyFile::Open(Written(dir, "std.sgy", Build(s)));
            const Acquisition& a = f->acquisition();
            SCOPED_TRACE(std::to_string(format) + (big ? " big" : " little"));
            EXPECT_EQ(f->layout().bigEndian, big);
            EXPECT_EQ(f->layout().type, format == 1 ? SampleType::kIbm32 : SampleType::kI16);
            EXPECT_EQ(a.native.text.rfind("C 1", 0), 0u) << "EBCDIC text header";
            EXPECT_EQ(a.sampleIntervalNs, 0.5);
            EXPECT_EQ(a.firstSampleTimeNs, -1.0);
            EXPECT_EQ(a.timeZeroSample, 3.0);
            EXPECT_EQ(a.traceSpacingM, 0.05);
            EXPECT_EQ(a.tracePositionsM, (std::vector<double>{0.0, 0.05, 0.1}));
            const std::vector<double> v = AllValues(*f);
            for (int t = 0; t < s.traces; ++t) {
                for (int i = 0; i < s.samples; ++i) EXPECT_EQ(v[t * s.samples + i], ExpectedValue(s, t, i));
            }
        }
    }
    // Coordinates that do not vary: no spacing, a warning; an extended
    // textual header moves the data.
    FileShape s;
    s.xStep = 0;
    s.extended = 1;
    std::unique_ptr<SurveyFile> f = SurveyFile::Open(Written(dir, "flat.sgy", Build(s)));
    EXPECT_EQ(f->layout().dataOffset, 6800);
    EXPECT_TRUE(std::isnan(f->acquisition().traceSpacingM));
    EXPECT_TRUE(HasWarning(f->acquisition(), "trace spacing unknown"));
    EXPECT_EQ(AllValues(*f)[s.samples], ExpectedValue(s, 1, 0));
}

TEST(SurveySegy, CallerOverridesByteOrderAndIntervalUnit) {
    TempDir dir;
    const std::string path = Written(dir, "o.sgy", Build(FileShape()));
    ReadOptions o;
    o.segyIntervalUnit = ReadOptions::TimeUnit::kNanoseconds;
    const Acquisition a = SurveyFile::Open(path, o)->acquisition();
    EXPECT_EQ(a.sampleIntervalNs, 500.0);
    EXPECT_EQ(a.sampleIntervalSource, "binary header interval 500 read as ns (unit given by the caller)");
    // A rewrite states the unit it writes over the file's own statement,
    // however that was spelt.
    FileShape stated;
    stated.asciiText = "C 1 sample Interval unit : PS";
    std::unique_ptr<SurveyFile> ns = SurveyFile::Open(Written(dir, "stated.sgy", Build(stated)), o);
    EXPECT_EQ(ns->acquisition().sampleIntervalNs, 500.0);
    const std::string rewritten = dir.File("rewritten.sgy");
    Rewrite(*ns, rewritten, false);
    EXPECT_EQ(SurveyFile::Open(rewritten)->acquisition().sampleIntervalNs, 500.0);
    o = ReadOptions();
    o.segyEndian = ReadOptions::Endian::kLittle;
    try {
        SurveyFile::Open(path, o);
        ADD_FAILURE() << "a big-endian file read as little-endian";
    } catch (const SurveyError& e) {
        EXPECT_EQ(e.field(), "format code");
        EXPECT_NE(std::string(e.what()).find("768"), std::string::npos) << e.what();
    }
    // An interval that more than one unit makes plausible is a guess, said so.
    FileShape s;
    s.interval = 10;
    const Acquisition g = SurveyFile::Open(Written(dir, "g.sgy", Build(s)))->acquisition();
    EXPECT_EQ(g.sampleIntervalNs, 10.0);
    EXPECT_TRUE(HasWarning(g, "a guess"));
}

TEST(SurveySegy, RoundTripsKeepSamplesAndFacts) {
    TempDir dir;
    FileShape s;
    s.delay = -1500;
    std::unique_ptr<SurveyFile> in = SurveyFile::Open(Written(dir, "in.sgy", Build(s)));
    const std::vector<double> values = AllValues(*in);
    // i16 through values and through 16-bit samples.
    const std::string i16 = dir.File("i16.sgy"), i16b = dir.File("i16b.sgy");
    Rewrite(*in, i16, false);
    Rewrite(*in, i16b, true);
    for (const std::string& p : {i16, i16b}) {
        std::unique_ptr<SurveyFile> back = SurveyFile::Open(p);
        EXPECT_EQ(AllValues(*back), values) << p;
        ExpectSameFacts(in->acquisition(), back->acquisition());
    }
    EXPECT_EQ(vantir3_test::AllSamples16(*SurveyFile::Open(i16b)), vantir3_test::AllSamples16(*in));
    // f32 written from i16, then rewritten as f32: the same bytes.
    WriteOptions asF32;
    asF32.sampleTypeGiven = true;
    asF32.sampleType = SampleType::kF32;
    const std::string f32 = dir.File("f32.sgy"), f32b = dir.File("f32b.sgy");
    Rewrite(*in, f32, false, asF32);
    std::unique_ptr<SurveyFile> once = SurveyFile::Open(f32);
    EXPECT_EQ(once->layout().type, SampleType::kF32);
    EXPECT_EQ(AllValues(*once), values);
    Rewrite(*once, f32b, false);
    ExpectSameFacts(once->acquisition(), SurveyFile::Open(f32b)->acquisition());
    EXPECT_EQ(vantir3_test::ReadBytes(f32b), vantir3_test::ReadBytes(f32)) << "a rewrite changes nothing";

    // A record from another format: the facts go into the headers and come back.
    Acquisition a;
    a.format = Format::kDzt;
    a.traces = 4;
    a.samples = 5;
    a.sampleType = SampleType::kF32;
    a.sampleIntervalNs = 48.0 / 512;
    a.timeZeroSample = 5.5;
    a.traceSpacingM = 0.02;
    a.tracePositionsM = {0.0, 0.02, 0.04, 0.06};
    a.antennaName = "400MHz";
    a.antennaFrequencyMHz = 400;
    a.antennaSeparationM = 0.16;
    a.stacks = 8;
    const std::string other = dir.File("other.sgy");
    std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(other, {a});
    std::vector<double> v(20);
    for (size_t i = 0; i < v.size(); ++i) v[i] = 0.25 * static_cast<double>(i) - 2.0;
    w->WriteScans(v.data(), 4);
    w->Commit();
    std::unique_ptr<SurveyFile> back = SurveyFile::Open(other);
    const Acquisition& b = back->acquisition();
    EXPECT_EQ(AllValues(*back), v);
    EXPECT_EQ(b.sampleIntervalNs, a.sampleIntervalNs);
    EXPECT_EQ(b.timeZeroSample, 5.5);
    EXPECT_EQ(b.traceSpacingM, 0.02);
    EXPECT_EQ(b.antennaName, "400MHz");
    EXPECT_EQ(b.antennaFrequencyMHz, 400);
    EXPECT_EQ(b.antennaSeparationM, 0.16);
    EXPECT_EQ(b.stacks, 8);
    ASSERT_EQ(b.tracePositionsM.size(), 4u);
    EXPECT_NEAR(b.tracePositionsM[3], 0.06, 1e-12);
    EXPECT_TRUE(b.warnings.empty()) << b.warnings.front();
    // Projected coordinates in feet with elevations, and geographic ones,
    // go out through coordinate scalars and come back to their precision.
    for (bool geographic : {false, true}) {
        Acquisition c = a;
        c.tracePositionsM.clear();
        c.geographic = geographic;
        c.positionUnit = geographic ? "m" : "ft";
        c.coordinates.clear();
        for (int t = 0; t < 4; ++t) {
            Coordinate p;
            p.x = geographic ? 11.25 + 1e-6 * t : 500000.125 + 0.3048 * t;
            p.y = geographic ? 46.5 : 5000000.5;
            p.z = 200.25 - 0.03048 * t;
            c.coordinates.push_back(p);
            c.elevationsM.push_back(p.z);
        }
        const std::string path = dir.File(geographic ? "geo.sgy" : "feet.sgy");
        std::unique_ptr<SurveyWriter> cw = SurveyWriter::Create(path, {c});
        cw->WriteScans(v.data(), 4);
        cw->Commit();
        const Acquisition d = SurveyFile::Open(path)->acquisition();
        SCOPED_TRACE(geographic ? "geographic" : "feet");
        EXPECT_EQ(d.geographic, geographic);
        EXPECT_EQ(d.positionUnit, c.positionUnit);
        ASSERT_EQ(d.coordinates.size(), 4u);
        ASSERT_EQ(d.elevationsM.size(), 4u);
        for (int t = 0; t < 4; ++t) {
            EXPECT_NEAR(d.coordinates[t].x, c.coordinates[t].x, geographic ? 1e-8 : 2e-3);  // scalar -100: 0.01 ft
            EXPECT_NEAR(d.coordinates[t].y, c.coordinates[t].y, geographic ? 1e-8 : 2e-3);  // scalar -100: 0.01 ft
            EXPECT_NEAR(d.elevationsM[t], c.elevationsM[t], 1e-4);
        }
        EXPECT_NEAR(d.tracePositionsM[3], geographic ? 3 * 0.0765 : 3 * 0.3048, 1e-3);
    }
    // A sounding in one place: the coordinates are kept, with no distance
    // along the line and the stated trace spacing.
    Acquisition still = a;
    still.tracePositionsM.clear();
    still.geographic = true;
    still.coordinates.assign(4, Coordinate{-122.3096916, 47.6542533, std::nan("")});
    const std::string stillPath = dir.File("still.sgy");
    std::unique_ptr<SurveyWriter> sw = SurveyWriter::Create(stillPath, {still});
    sw->WriteScans(v.data(), 4);
    sw->Commit();
    const Acquisition e = SurveyFile::Open(stillPath)->acquisition();
    EXPECT_TRUE(e.geographic);
    ASSERT_EQ(e.coordinates.size(), 4u);
    EXPECT_NEAR(e.coordinates[3].x, -122.3096916, 1.5e-7);  // scalar -1000: 0.001 arc second
    EXPECT_NEAR(e.coordinates[3].y, 47.6542533, 1.5e-7);
    EXPECT_TRUE(e.tracePositionsM.empty());
    EXPECT_EQ(e.traceSpacingM, 0.02);
    // 32-bit integer samples stay integers (format 2): values that a float
    // would round come back exactly.
    Acquisition wide = a;
    wide.sampleType = SampleType::kI32;
    const std::vector<double> big = {16777217.0, -16777219.0, 2147483647.0, -2147483648.0, 3.0};
    const std::string i32 = dir.File("i32.sgy");
    std::unique_ptr<SurveyWriter> iw = SurveyWriter::Create(i32, {wide});
    for (int t = 0; t < 4; ++t) iw->WriteScans(big.data(), 1);
    iw->Commit();
    const std::vector<uint8_t> bytes = vantir3_test::ReadBytes(i32);
    ASSERT_GT(bytes.size(), 3226u);
    EXPECT_EQ(bytes[3224], 0);
    EXPECT_EQ(bytes[3225], 2) << "format code";
    std::unique_ptr<SurveyFile> wideBack = SurveyFile::Open(i32);
    EXPECT_EQ(wideBack->layout().type, SampleType::kI32);
    std::vector<double> wideValues;
    for (int t = 0; t < 4; ++t) wideValues.insert(wideValues.end(), big.begin(), big.end());
    EXPECT_EQ(AllValues(*wideBack), wideValues);
    // One channel only, and no 8-bit or IBM samples.
    EXPECT_THROW(SurveyWriter::Create(dir.File("x.sgy"), {a, a}), SurveyError);
    WriteOptions asU8;
    asU8.sampleTypeGiven = true;
    asU8.sampleType = SampleType::kU8;
    EXPECT_THROW(SurveyWriter::Create(dir.File("x.sgy"), {a}, asU8), SurveyError);
}

// Sets trace t's recording-time fields (trace bytes 157-168) in a built file.
void PutTime(std::vector<uint8_t>& b, const FileShape& s, int t, const std::vector<uint32_t>& fields) {
    const size_t record = 240 + static_cast<size_t>(s.samples * (s.format == 1 ? 4 : 2));
    const size_t at = 3600 + 3200 * static_cast<size_t>(s.extended) + record * static_cast<size_t>(t) + 156;
    for (size_t k = 0; k < fields.size(); ++k) Put(b, at + 2 * k, fields[k], 2, s.big);
}

TEST(SurveySegy, TraceTimesRoundTripAndBadOnesAreReported) {
    TempDir dir;
    Acquisition a;
    a.format = Format::kDzt;
    a.traces = 4;
    a.samples = 2;
    a.sampleIntervalNs = 0.1;
    a.traceTimes = {{20240229, 13 * 3600 + 5 * 60 + 59.75}, {20231231, 86399.0}, {}, {20190726, 0.0}};
    a.traceTimeBasis = "UTC";
    const std::string path = dir.File("times.sgy");
    std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, {a});
    const std::vector<double> v(8, 1.0);
    w->WriteScans(v.data(), 4);
    w->Commit();
    const std::vector<uint8_t> bytes = vantir3_test::ReadBytes(path);
    EXPECT_EQ(bytes[3600 + 159], 60) << "29 February is day 60";
    EXPECT_EQ(bytes[3600 + 167], 4) << "UTC";
    const Acquisition b = SurveyFile::Open(path)->acquisition();
    EXPECT_EQ(b.traceTimeBasis, "UTC");
    ASSERT_EQ(b.traceTimes.size(), 4u);
    const int32_t dates[4] = {20240229, 20231231, 0, 20190726};
    const double seconds[4] = {13 * 3600 + 5 * 60 + 59, 86399, std::nan(""), 0};
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(b.traceTimes[t].date, dates[t]) << t;
        EXPECT_TRUE(vantir3_test::SameNumber(b.traceTimes[t].secondOfDay, seconds[t])) << t;
    }
    EXPECT_FALSE(HasWarning(b, "recording times"));
    // A clock of unstated basis (a DT1's) stays unstated; times for the
    // first traces only are written for those.
    Acquisition unstated = a;
    unstated.traceTimeBasis = "";
    unstated.traceTimes.resize(1);
    w = SurveyWriter::Create(dir.File("unstated.sgy"), {unstated});
    w->WriteScans(v.data(), 4);
    w->Commit();
    EXPECT_EQ(vantir3_test::ReadBytes(dir.File("unstated.sgy"))[3600 + 167], 0);
    EXPECT_EQ(SurveyFile::Open(dir.File("unstated.sgy"))->acquisition().traceTimeBasis, "");
    const Acquisition u = SurveyFile::Open(dir.File("unstated.sgy"))->acquisition();
    EXPECT_EQ(u.traceTimes[0].date, 20240229);
    EXPECT_TRUE(std::isnan(u.traceTimes[1].secondOfDay));
    // Times no format can state are refused, whatever the format.
    a.traceTimes[1].date = 20230229;
    EXPECT_THROW(SurveyWriter::Create(dir.File("x.sgy"), {a}), SurveyError);
    a.traceTimes[1] = {20231231, 86401.0};
    EXPECT_THROW(SurveyWriter::Create(dir.File("x.rd3"), {a}), SurveyError);

    // Built files of either byte order: none without times; local times kept
    // with a warning; out-of-range fields reported and left out.
    EXPECT_TRUE(SurveyFile::Open(Written(dir, "none.sgy", Build(FileShape())))->acquisition().traceTimes.empty());
    for (bool big : {true, false}) {
        SCOPED_TRACE(big ? "big" : "little");
        FileShape s;
        s.big = big;
        std::vector<uint8_t> f = Build(s);
        PutTime(f, s, 0, {2023, 60, 23, 59, 60, 1});
        PutTime(f, s, 1, {2024, 400, 1, 2, 3, 1});
        PutTime(f, s, 2, {2023, 366, 0, 0, 0, 1});
        const Acquisition c = SurveyFile::Open(Written(dir, "local.sgy", f))->acquisition();
        ASSERT_EQ(c.traceTimes.size(), 3u);
        EXPECT_EQ(c.traceTimes[0].date, 20230301);
        EXPECT_EQ(c.traceTimes[0].secondOfDay, 86400.0);
        EXPECT_EQ(c.traceTimes[1].date, 0);
        EXPECT_TRUE(std::isnan(c.traceTimes[2].secondOfDay));
        EXPECT_TRUE(HasWarning(c, "local time, not UTC"));
        EXPECT_EQ(c.traceTimeBasis, "local");
        EXPECT_TRUE(HasWarning(c, "2 traces have recording times out of range"));
        EXPECT_TRUE(HasWarning(c, "day of year 400"));
    }
}

TEST(SurveySegy, HostileHeadersAreRefusedNamingTheField) {
    TempDir dir;
    auto expectError = [&](const std::vector<uint8_t>& bytes, const std::string& field, int64_t offset) {
        try {
            SurveyFile::Open(Written(dir, "bad.sgy", bytes));
            ADD_FAILURE() << "accepted; expected an error in " << field;
        } catch (const SurveyError& e) {
            EXPECT_EQ(e.field(), field) << e.what();
            EXPECT_EQ(e.offset(), offset) << e.what();
        }
    };
    const std::vector<uint8_t> good = Build(FileShape());
    expectError(std::vector<uint8_t>(good.begin(), good.begin() + 3599), "binary header", 3200);
    expectError(std::vector<uint8_t>(good.begin(), good.begin() + 3700), "traces", 3600);
    for (uint32_t code : {0u, 4u, 7u}) {
        std::vector<uint8_t> b = good;
        Put(b, 3224, code, 2, true);
        expectError(b, "format code", 3224);
    }
    std::vector<uint8_t> b = good;
    Put(b, 3220, 0, 2, true);
    Put(b, 3600 + 114, 0, 2, true);
    expectError(b, "samples", 3220);
    b = good;
    Put(b, 3220, 60000, 2, true);
    Put(b, 3600 + 114, 60000, 2, true);
    expectError(b, "samples", 3220);
    for (uint32_t count : {1u, 30000u, 0xFFFEu}) {
        b = good;
        Put(b, 3504, count, 2, true);
        expectError(b, "extended textual header count", 3504);
    }
    // A samples count that contradicts the size, where the trace header's fits.
    b = good;
    Put(b, 3220, 7, 2, true);
    std::unique_ptr<SurveyFile> f = SurveyFile::Open(Written(dir, "fixed.sgy", b));
    EXPECT_EQ(f->sampleCount(), 6);
    EXPECT_TRUE(HasWarning(f->acquisition(), "first trace header's 6"));
    // A partial last trace is left out, with a warning.
    b = good;
    b.resize(b.size() - 3);
    f = SurveyFile::Open(Written(dir, "cut.sgy", b));
    EXPECT_EQ(f->traceCount(), 2);
    EXPECT_TRUE(HasWarning(f->acquisition(), "partial trace"));
}

// Seeds of fuzz/corpus/fuzz_survey_segy, written when VANTIR3_SEGY_SEED_DIR names a folder.
TEST(SurveySegy, WritesFuzzSeeds) {
    const char* dir = std::getenv("VANTIR3_SEGY_SEED_DIR");
    if (dir == nullptr) GTEST_SKIP() << "VANTIR3_SEGY_SEED_DIR not set";
    TempDir tmp;
    FileShape s;
    s.samples = 8;
    s.delay = -1000;
    std::unique_ptr<SurveyFile> in = SurveyFile::Open(Written(tmp, "seed.sgy", Build(s)));
    Rewrite(*in, std::string(dir) + "/i16_native.sgy", false);
    WriteOptions asF32;
    asF32.sampleTypeGiven = true;
    asF32.sampleType = SampleType::kF32;
    Acquisition a = in->acquisition();
    a.native = NativeHeader();
    a.antennaFrequencyMHz = 250;
    a.antennaSeparationM = 0.5;
    std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(std::string(dir) + "/f32_facts.sgy", {a}, asF32);
    const std::vector<double> v = AllValues(*in);
    w->WriteScans(v.data(), in->traceCount());
    w->Commit();
    s.extended = 1;
    s.traces = 2;
    s.samples = 4;
    in = SurveyFile::Open(Written(tmp, "ext.sgy", Build(s)));
    Rewrite(*in, std::string(dir) + "/i16_extended.sgy", false);
}

}  // namespace
}  // namespace survey
}  // namespace vantir3
