// DT1 (+ .HD) and RD3/RD7 (+ .RAD, .COR) files: the real sample files'
// facts, round trips through the writers, and hostile inputs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/survey_fuzz_input.h"
#include "tests/support/survey_checks.h"
#include "tests/support/test_data.h"
#include "vantir3_survey/format_io.h"
#include "vantir3_survey/nmea.h"
#include "vantir3_survey/survey.h"
#include "vantir3_survey/text_header.h"

namespace vantir3 {
namespace survey {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Spit(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

using vantir3_test::AllSamples16;
using vantir3_test::AllValues;
using vantir3_test::ExpectSameFacts;
using vantir3_test::HasWarning;
using vantir3_test::SameBits;

class TextFormatsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/vantir3_dt1_rd3_test_XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // Writes `values` of `a` to path and opens the result.
    std::unique_ptr<SurveyFile> Write(const std::string& path, const Acquisition& a, const std::vector<double>& values,
                                      const WriteOptions& options = WriteOptions()) {
        std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, {a}, options);
        w->WriteScans(values.data(), a.traces);
        w->Commit();
        return SurveyFile::Open(path);
    }

    // Rewrites an open file under `name` in its own format: samples and
    // facts must come back unchanged.
    std::unique_ptr<SurveyFile> ExpectRewriteKeeps(const SurveyFile& f, const std::string& name) {
        std::unique_ptr<SurveyFile> g = Write(Path(name), f.acquisition(), AllValues(f));
        EXPECT_TRUE(SameBits(AllValues(f), AllValues(*g))) << name;
        EXPECT_EQ(AllSamples16(f), AllSamples16(*g)) << name;
        ExpectSameFacts(f.acquisition(), g->acquisition());
        return g;
    }

    std::string dir_;
};

// ---- DT1 -------------------------------------------------------------------

struct Dt1Facts {
    const char* file;
    int64_t traces;
    int32_t samples;
    double windowNs, timeZero, step, frequency, separation;
    const char* unit;
    int32_t stacks;
    int32_t date;      // of the .HD (0: its order of day and month cannot be told)
    double firstTime;  // the first trace header's time of day, s
};

TEST_F(TextFormatsTest, RealDt1FilesOpenWithTheirFactsAndWriteBackUnchanged) {
    const double ft = 0.3048;
    const Dt1Facts facts[] = {
        {"gprpy_ComOffs_XLINE00", 531, 1500, 1200.0, 3.18, 2.0 * ft, 50.0, 3.0 * ft, "ft", 8, 20170410, 38177.2265625},
        {"gprpy_WARR_XLINE00", 164, 1900, 760.0, 34.07, 0.1, 100.0, 0.75, "m", 8, 20170411, 31863.322265625},
        {"rgpr_2012_10_06_cornino_yyline3", 391, 500, 400.0, 64.889999, 0.25, 100.0, 1.0, "m", 32, 20121006,
         35672.953125},
        {"rgpr_2012_10_06_cornino_cmp", 51, 500, 400.0, 59.150002, 0.5, 100.0, 1.0, "m", 32, 20121005, 51150.19140625},
        {"rgpr_flagogna_raw_XLINE000", 198, 425, 340.0, 61.630001, 0.25, 100.0, 1.0, "m", 32, 0, 46606.91796875},
    };
    for (const Dt1Facts& e : facts) {
        SCOPED_TRACE(e.file);
        VANTIR3_REQUIRE_DATA(path, std::string("dt1/") + e.file + ".DT1");
        std::unique_ptr<SurveyFile> f = SurveyFile::Open(path);
        const Acquisition& a = f->acquisition();
        EXPECT_EQ(a.format, Format::kDt1);
        EXPECT_EQ(a.traces, e.traces);
        EXPECT_EQ(a.samples, e.samples);
        EXPECT_EQ(a.sampleType, SampleType::kI16);
        EXPECT_EQ(a.scale, 1.0);
        EXPECT_DOUBLE_EQ(a.sampleIntervalNs, e.windowNs / e.samples);
        EXPECT_EQ(a.sampleIntervalSource, "TOTAL TIME WINDOW / NUMBER OF PTS/TRC");
        EXPECT_DOUBLE_EQ(a.timeWindowNs, e.windowNs);
        EXPECT_DOUBLE_EQ(a.timeZeroSample, e.timeZero);
        EXPECT_DOUBLE_EQ(a.firstSampleTimeNs, -(e.timeZero - 1.0) * e.windowNs / e.samples);
        EXPECT_DOUBLE_EQ(a.traceSpacingM, e.step);
        EXPECT_EQ(a.traceSpacingSource, "STEP SIZE USED");
        EXPECT_FALSE(a.timeTriggered);
        EXPECT_DOUBLE_EQ(a.antennaFrequencyMHz, e.frequency);
        EXPECT_DOUBLE_EQ(a.antennaSeparationM, e.separation);
        EXPECT_EQ(a.positionUnit, e.unit);
        EXPECT_EQ(a.stacks, e.stacks);
        // The trace headers' clock, on the .HD's day where it can be told.
        ASSERT_EQ(a.traceTimes.size(), static_cast<size_t>(e.traces));
        EXPECT_EQ(a.traceTimes[0].date, e.date);
        EXPECT_EQ(a.traceTimes[0].secondOfDay, e.firstTime);
        EXPECT_EQ(a.traceTimes.back().date, e.date);
        EXPECT_EQ(a.warnings.size(), e.date == 0 ? 1u : 0u);
        EXPECT_EQ(HasWarning(a, "may be day/month or month/day"), e.date == 0);
        // Per-trace positions from the trace headers, in metres; these
        // files record no elevation.
        ASSERT_EQ(a.tracePositionsM.size(), static_cast<size_t>(e.traces));
        EXPECT_NEAR(a.tracePositionsM[1] - a.tracePositionsM[0], e.step, 1e-6);
        EXPECT_TRUE(a.elevationsM.empty());
        const TraceLayout& l = f->layout();
        EXPECT_EQ(l.dataOffset, 0);
        EXPECT_EQ(l.headerBytes, 128);
        EXPECT_EQ(l.recordBytes, 128 + 2 * e.samples);
        EXPECT_EQ(a.native.traceHeaders.size(), static_cast<size_t>(128 * e.traces));
        EXPECT_EQ(a.native.text, Slurp(path.substr(0, path.size() - 4) + ".HD"));

        std::unique_ptr<SurveyFile> g = ExpectRewriteKeeps(*f, std::string(e.file) + ".DT1");
        // Writing back loses nothing: the same bytes, .HD included.
        EXPECT_EQ(Slurp(g->path()), Slurp(path));
        EXPECT_EQ(Slurp(Path(std::string(e.file) + ".HD")), a.native.text);
        // As 32-bit floats: the trace headers say so, nothing else changes.
        WriteOptions asF32;
        asF32.sampleTypeGiven = true;
        asF32.sampleType = SampleType::kF32;
        std::unique_ptr<SurveyFile> h = Write(Path("f32.DT1"), a, AllValues(*f), asF32);
        EXPECT_EQ(h->acquisition().sampleType, SampleType::kF32);
        EXPECT_EQ(h->layout().recordBytes, 128 + 4 * e.samples);
        EXPECT_TRUE(SameBits(AllValues(*h), AllValues(*f)));
        EXPECT_EQ(h->acquisition().tracePositionsM, a.tracePositionsM);
        EXPECT_DOUBLE_EQ(h->acquisition().timeZeroSample, e.timeZero);
    }
}

// A DT1 record built from facts alone (no native header), as another
// format's file would give it.
Acquisition Dt1Record(SampleType type) {
    Acquisition a;
    a.format = Format::kRd3;
    a.native.format = Format::kRd3;  // not DT1: headers are built
    a.traces = 7;
    a.samples = 33;
    a.sampleType = type;
    a.sampleIntervalNs = 0.25;
    a.timeZeroSample = 4.5;
    a.traceSpacingM = 0.05;
    a.antennaFrequencyMHz = 250.0;
    a.antennaSeparationM = 0.3;
    a.stacks = 16;
    for (int64_t t = 0; t < a.traces; ++t) {
        a.tracePositionsM.push_back(1.0 + 0.05 * t);
        a.elevationsM.push_back(t == 3 ? 12.5 : 0.0);
    }
    // Recorded across midnight at the end of a leap day.
    a.traceTimes = {{20240229, 86398.5}, {20240229, 86399.75}, {20240301, 0.25}, {20240301, 1.0},
                    {20240301, 2.0},     {20240301, 3.0},      {20240301, 4.0}};
    return a;
}

std::vector<double> TestValues(const Acquisition& a, double unit) {
    std::vector<double> v(static_cast<size_t>(a.traces * a.samples));
    for (size_t i = 0; i < v.size(); ++i) v[i] = std::floor(std::sin(0.37 * i) * 30000.0) * unit;
    return v;
}

TEST_F(TextFormatsTest, Dt1RoundTripsI16AndF32) {
    for (SampleType type : {SampleType::kI16, SampleType::kF32}) {
        SCOPED_TRACE(SampleTypeName(type));
        const Acquisition a = Dt1Record(type);
        // f32 values that are not whole numbers must come back bit for bit.
        const std::vector<double> values = TestValues(a, type == SampleType::kF32 ? 0.125 : 1.0);
        std::unique_ptr<SurveyFile> f = Write(Path("built.DT1"), a, values);
        const Acquisition& b = f->acquisition();
        EXPECT_EQ(b.sampleType, type);
        EXPECT_TRUE(SameBits(AllValues(*f), values));
        EXPECT_EQ(b.traces, a.traces);
        EXPECT_EQ(b.samples, a.samples);
        EXPECT_DOUBLE_EQ(b.sampleIntervalNs, a.sampleIntervalNs);
        EXPECT_EQ(b.timeZeroSample, a.timeZeroSample);
        EXPECT_DOUBLE_EQ(b.firstSampleTimeNs, -3.5 * 0.25);
        EXPECT_EQ(b.traceSpacingM, a.traceSpacingM);
        EXPECT_EQ(b.antennaFrequencyMHz, a.antennaFrequencyMHz);
        EXPECT_EQ(b.antennaSeparationM, a.antennaSeparationM);
        EXPECT_EQ(b.stacks, a.stacks);
        EXPECT_EQ(b.positionUnit, "m");
        ASSERT_EQ(b.tracePositionsM.size(), a.tracePositionsM.size());
        for (size_t t = 0; t < a.tracePositionsM.size(); ++t) {
            EXPECT_EQ(b.tracePositionsM[t], static_cast<double>(static_cast<float>(a.tracePositionsM[t])));
        }
        EXPECT_EQ(b.elevationsM, a.elevationsM);
        // The times: the clock in the trace headers, the first day in the .HD.
        ASSERT_EQ(b.traceTimes.size(), a.traceTimes.size());
        for (size_t t = 0; t < a.traceTimes.size(); ++t) {
            EXPECT_EQ(b.traceTimes[t].date, a.traceTimes[t].date) << t;
            EXPECT_EQ(b.traceTimes[t].secondOfDay, a.traceTimes[t].secondOfDay) << t;
        }
        // Times without a day stay without one (the .HD states none).
        Acquisition undated = a;
        for (TraceTime& t : undated.traceTimes) t.date = 0;
        const Acquisition c = Write(Path("undated.DT1"), undated, values)->acquisition();
        EXPECT_EQ(c.traceTimes[6].date, 0);
        EXPECT_EQ(c.traceTimes[6].secondOfDay, 4.0);
        // Written again from the DT1 record itself (native headers reused).
        ExpectRewriteKeeps(*f, "again.DT1");
        // 16-bit samples through the scale come back the same.
        std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(Path("s16.DT1"), {b});
        const std::vector<int16_t> s16 = AllSamples16(*f);
        w->WriteScans16(s16.data(), b.traces);
        w->Commit();
        EXPECT_EQ(AllSamples16(*SurveyFile::Open(Path("s16.DT1"))), s16);
    }
}

// A DT1's GPS log (.GPS: each trace's NMEA fixes after a line "Trace #N at
// position P") gives its traces geographic positions and UTC times; the
// writer makes one from a record with such positions.
TEST_F(TextFormatsTest, Dt1GpsLogGivesPositionsAndIsWritten) {
    Acquisition a = Dt1Record(SampleType::kI16);
    for (int64_t t = 0; t < a.traces; ++t) a.coordinates.push_back({-122.3 + 1e-6 * t / 3.0, 47.65 - 2e-6 * t, 80.0 + t});
    a.geographic = true;
    a.traceTimeBasis = "UTC";
    const std::vector<double> values = TestValues(a, 1.0);
    const Acquisition b = Write(Path("gps.DT1"), a, values)->acquisition();
    const std::string log = Slurp(Path("gps.GPS"));
    EXPECT_EQ(log.rfind("Trace #1 at position 1\r\n$GPGGA,235958.5,", 0), 0u) << log.substr(0, 80);
    ASSERT_EQ(b.coordinates.size(), a.coordinates.size());
    EXPECT_TRUE(b.geographic);
    EXPECT_EQ(b.traceTimeBasis, "UTC");
    for (size_t t = 0; t < a.coordinates.size(); ++t) {
        EXPECT_EQ(b.coordinates[t].x, a.coordinates[t].x) << t;
        EXPECT_EQ(b.coordinates[t].y, a.coordinates[t].y) << t;
        EXPECT_EQ(b.coordinates[t].z, a.coordinates[t].z) << t;
        // The log's times (with their day), not the headers' single precision.
        EXPECT_EQ(b.traceTimes[t].date, a.traceTimes[t].date) << t;
        EXPECT_EQ(b.traceTimes[t].secondOfDay, a.traceTimes[t].secondOfDay) << t;
    }
    // The trace headers' elevations are the surveyed ones: the altitudes do
    // not replace them.
    EXPECT_EQ(b.elevationsM, a.elevationsM);
    // Written back from its own record, the log is the same.
    Write(Path("again.DT1"), b, values);
    EXPECT_EQ(Slurp(Path("again.GPS")), log);
    // Times of a recorder's clock are not GPS times: the log gets none.
    Acquisition local = a;
    local.traceTimeBasis = "";
    Write(Path("local.DT1"), local, values);
    EXPECT_EQ(Slurp(Path("local.GPS")).find("$GPGGA,,"), log.find("$GPGGA,"));
    // No positions, no log.
    Write(Path("plain.DT1"), Dt1Record(SampleType::kI16), values);
    EXPECT_FALSE(std::filesystem::exists(Path("plain.GPS")));

    // A log as a unit writes it: traces named 1-based, a broken name, a
    // trace without a fix, one beyond the file, GGA fixes only. Traces
    // between fixes are interpolated, and the altitudes are the elevations
    // where the headers give none.
    Acquisition flat = Dt1Record(SampleType::kI16);
    flat.elevationsM.assign(static_cast<size_t>(flat.traces), 0.0);
    Write(Path("log.DT1"), flat, values);
    auto gga = [](const char* lat, const char* z) {
        return internal::WithChecksum(std::string("GPGGA,120000,") + lat + ",N,01000.0000,E,1,08,0.9," + z + ",M,,M,,");
    };
    Spit(Path("log.GPS"), "Trace #1 at position 1.000000\r\n" + gga("4500.0000", "10.0") +
                              "Trace #x at position 1.05\r\n" + "Trace #3 at position 1.100000\n" +
                              gga("4500.0600", "12.0") + "TRACE #5\r\nTrace #6 at position 1.25\r\n" +
                              gga("4500.1200", "14.0") + "Trace #99 at position 5.9\r\n" + gga("4501.0000", "1.0"));
    const Acquisition c = SurveyFile::Open(Path("log.DT1"))->acquisition();
    ASSERT_EQ(c.coordinates.size(), 7u);
    EXPECT_DOUBLE_EQ(c.coordinates[1].y, 45.0005);
    EXPECT_NEAR(c.coordinates[3].y, 45.001 + 0.001 / 3.0, 1e-12);
    EXPECT_EQ(c.coordinates[6].y, c.coordinates[5].y);
    EXPECT_EQ(c.coordinates[0].x, 10.0);
    ASSERT_EQ(c.elevationsM.size(), 7u);
    EXPECT_DOUBLE_EQ(c.elevationsM[1], 11.0);
    EXPECT_TRUE(HasWarning(c, "GPS: 1 empty or broken"));
    EXPECT_TRUE(HasWarning(c, "GPS: 1 scan sentences without a following fix"));
    EXPECT_TRUE(HasWarning(c, "GPS: 1 fixes name scans beyond the file's 7 traces"));
    // Its fixes' times of day (no day: no RMC) leave the headers' dated clock.
    EXPECT_EQ(c.traceTimes[0].date, 20240229);
    EXPECT_EQ(c.traceTimes[0].secondOfDay, 86398.5);
    EXPECT_EQ(c.traceTimeBasis, "");
}

TEST_F(TextFormatsTest, Dt1HeaderIsReadByKeyWhateverTheLineEnds) {
    // Lone CR, CRLF and LF mixed, keys in another order, padded, unknown
    // lines, feet; trace headers give positions and one elevation.
    const Acquisition a = Dt1Record(SampleType::kI16);
    std::unique_ptr<SurveyFile> f = Write(Path("k.DT1"), a, TestValues(a, 1.0));
    Spit(Path("k.HD"),
         "1234\rsystem line\r\n2020-01-01\n"
         "NOMINAL FREQUENCY  =  200 \r"
         "SERIAL NUMBER      = 0042-xyz\r\n"
         "POSITION UNITS     = ft\r\r\n"
         "NUMBER OF PTS/TRC=33\r"
         "   TOTAL TIME WINDOW   = 66\r\n"
         "STEP SIZE USED     = 0.5\n"
         "ANTENNA SEPARATION = 2\r"
         "TIMEZERO AT POINT  = 7.25\r\n"
         "NUMBER OF TRACES   = 9\r\n");
    f = SurveyFile::Open(Path("k.DT1"));
    const Acquisition& b = f->acquisition();
    EXPECT_EQ(b.samples, 33);
    EXPECT_EQ(b.traces, 7);  // the file size wins over NUMBER OF TRACES
    EXPECT_TRUE(HasWarning(b, "NUMBER OF TRACES"));
    EXPECT_DOUBLE_EQ(b.sampleIntervalNs, 2.0);
    EXPECT_DOUBLE_EQ(b.timeZeroSample, 7.25);
    EXPECT_DOUBLE_EQ(b.firstSampleTimeNs, -12.5);
    EXPECT_EQ(b.positionUnit, "ft");
    EXPECT_DOUBLE_EQ(b.traceSpacingM, 0.5 * 0.3048);
    EXPECT_DOUBLE_EQ(b.antennaSeparationM, 2 * 0.3048);
    EXPECT_EQ(b.antennaFrequencyMHz, 200.0);
    EXPECT_DOUBLE_EQ(b.tracePositionsM[2], static_cast<float>(1.1) * 0.3048);
    EXPECT_DOUBLE_EQ(b.elevationsM[3], 12.5 * 0.3048);
    // The trace headers' clock on the .HD's day, the next after midnight.
    EXPECT_EQ(b.traceTimes[1].date, 20200101);
    EXPECT_EQ(b.traceTimes[2].date, 20200102);

    // Writing back keeps every line and line end, only the counts change.
    std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(Path("k2.DT1"), {b});
    const std::vector<double> v = AllValues(*f);
    w->WriteScans(v.data(), b.traces);
    w->Commit();
    const std::string hd = Slurp(Path("k2.HD"));
    EXPECT_NE(hd.find("SERIAL NUMBER      = 0042-xyz\r\n"), std::string::npos);
    EXPECT_NE(hd.find("NUMBER OF TRACES   = 7\r\n"), std::string::npos);
    EXPECT_NE(hd.find("NOMINAL FREQUENCY  =  200 \rSERIAL"), std::string::npos);
    ExpectSameFacts(b, SurveyFile::Open(Path("k2.DT1"))->acquisition());

    // Other forms of the date line: day and month in either order where one
    // is above 12; an order that cannot be told, or no date, gives no day.
    const std::string text = Slurp(Path("k.HD"));
    const std::pair<const char*, int32_t> forms[] = {
        {"2011/06/13 08:15", 20110613}, {"13/06/2011", 20110613}, {"06-13-2011", 20110613}, {"10.06.2011", 0}, {"", 0},
        // Numbers beyond a date's digits are no date.
        {"6-3-321606", 0}, {"321606-3-6", 0}, {"2011-06--13", 0}, {"2011-1306-1", 0}};
    for (const auto& form : forms) {
        SCOPED_TRACE(form.first);
        std::string changed = text;
        changed.replace(changed.find("2020-01-01"), 10, form.first);
        Spit(Path("k.HD"), changed);
        const Acquisition c = SurveyFile::Open(Path("k.DT1"))->acquisition();
        EXPECT_EQ(c.traceTimes[0].date, form.second);
        EXPECT_EQ(c.traceTimes[0].secondOfDay, 86398.5);
        EXPECT_EQ(HasWarning(c, "may be day/month or month/day"), std::string(form.first) == "10.06.2011");
    }

    // Facts no survey has are unknown, with a warning, and the record writes.
    std::string odd = text;
    odd.replace(odd.find("=  200 "), 7, "= 1e999");
    odd.replace(odd.find("= 2\r"), 3, "= -2");
    odd.replace(odd.find("= 7.25"), 6, "= inf ");
    Spit(Path("k.HD"), odd);
    const Acquisition c = SurveyFile::Open(Path("k.DT1"))->acquisition();
    EXPECT_TRUE(std::isnan(c.antennaFrequencyMHz));
    EXPECT_TRUE(std::isnan(c.antennaSeparationM));
    EXPECT_TRUE(HasWarning(c, "the file's antenna separation -0.6096 m is not usable"));
    EXPECT_EQ(c.timeZeroSample, 1.0);
    EXPECT_TRUE(HasWarning(c, "TIMEZERO AT POINT missing or not finite"));
    EXPECT_NO_THROW(SurveyWriter::Create(Path("k3.DT1"), {c}));
}

TEST_F(TextFormatsTest, HostileDt1InputsFailNamingTheField) {
    const Acquisition a = Dt1Record(SampleType::kI16);
    Write(Path("h.DT1"), a, TestValues(a, 1.0));
    const std::string dt1 = Slurp(Path("h.DT1")), hd = Slurp(Path("h.HD"));
    auto expectError = [&](const std::string& field, const std::string& part) {
        try {
            SurveyFile::Open(Path("h.DT1"));
            ADD_FAILURE() << "no error; expected " << field;
        } catch (const SurveyError& e) {
            EXPECT_EQ(e.field(), field) << e.what();
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    };
    auto withHd = [&](const std::string& key, const std::string& value) {
        Spit(Path("h.HD"), internal::ReplaceValues(hd, '=', {{key, value}}, " = "));
    };
    withHd("NUMBER OF PTS/TRC", "0");
    expectError("NUMBER OF PTS/TRC", "h.HD");
    withHd("NUMBER OF PTS/TRC", "2000000000");
    expectError("NUMBER OF PTS/TRC", "do not fit");
    withHd("NUMBER OF PTS/TRC", "1e300");
    expectError("NUMBER OF PTS/TRC", "outside");
    withHd("NUMBER OF PTS/TRC", "33.5");
    expectError("NUMBER OF PTS/TRC", "whole");
    Spit(Path("h.HD"), "1234\r\nTOTAL TIME WINDOW = 8\r\n");
    expectError("NUMBER OF PTS/TRC", "missing");
    Spit(Path("h.HD"), hd);

    // Trace 3 says 4 bytes per point where trace 1 says 2.
    std::string bad = dt1;
    const float four = 4.0f;
    std::memcpy(&bad[2 * (128 + 66) + 20], &four, 4);
    Spit(Path("h.DT1"), bad);
    expectError("bytes per point", "trace 3");
    const float seven = 7.0f;
    std::memcpy(&bad[20], &seven, 4);
    Spit(Path("h.DT1"), bad);
    expectError("bytes per point", "trace 1");

    // Shorter than one trace header, shorter than one trace.
    Spit(Path("h.DT1"), dt1.substr(0, 100));
    expectError("trace header 1", "ends before");
    Spit(Path("h.DT1"), dt1.substr(0, 150));
    expectError("NUMBER OF PTS/TRC", "do not fit");
    // A partial last trace is dropped with a warning.
    Spit(Path("h.DT1"), dt1.substr(0, dt1.size() - 10));
    const Acquisition cut = SurveyFile::Open(Path("h.DT1"))->acquisition();
    EXPECT_EQ(cut.traces, a.traces - 1);
    EXPECT_TRUE(HasWarning(cut, "partial trace"));

    // No .HD: the error names the companion.
    std::filesystem::remove(Path("h.HD"));
    expectError(".HD", ".HD");
    // The writer refuses what DT1 cannot hold.
    EXPECT_THROW(internal::MakeDt1Writer({a}, SampleType::kI32), SurveyError);
    EXPECT_THROW(internal::MakeDt1Writer({a, a}, SampleType::kI16), SurveyError);
}

// ---- RD3 / RD7 -------------------------------------------------------------

TEST_F(TextFormatsTest, RealRd3FileOpensWithItsFactsAndWritesBackUnchanged) {
    VANTIR3_REQUIRE_DATA(path, "rd3/impdar_ten_col.rd3");
    std::unique_ptr<SurveyFile> f = SurveyFile::Open(path);
    const Acquisition& a = f->acquisition();
    EXPECT_EQ(a.format, Format::kRd3);
    EXPECT_EQ(a.traces, 10);
    EXPECT_EQ(a.samples, 512);
    EXPECT_EQ(a.sampleType, SampleType::kI16);
    EXPECT_DOUBLE_EQ(a.sampleIntervalNs, 1000.0 / 2426.187744);
    EXPECT_EQ(a.sampleIntervalSource, "1 / FREQUENCY");
    EXPECT_DOUBLE_EQ(a.timeWindowNs, 422.061312);
    EXPECT_TRUE(HasWarning(a, "TIMEWINDOW / SAMPLES")) << "the x2 disagreement";
    EXPECT_EQ(a.timeZeroSample, 1.0);
    EXPECT_TRUE(a.timeTriggered);
    EXPECT_TRUE(std::isnan(a.traceSpacingM));
    EXPECT_DOUBLE_EQ(a.traceIntervalS, 0.1);
    EXPECT_EQ(a.antennaName, "500_shielded_egrip");
    EXPECT_EQ(a.antennaFrequencyMHz, 500.0);
    EXPECT_DOUBLE_EQ(a.antennaSeparationM, 0.18);
    EXPECT_EQ(a.stacks, 4);
    EXPECT_EQ(a.positionUnit, "m");
    // The .COR: trace 7 is in the file, traces 18 and 27 are beyond it.
    ASSERT_TRUE(a.geographic);
    ASSERT_EQ(a.coordinates.size(), 10u);
    EXPECT_DOUBLE_EQ(a.coordinates[6].y, 75.63203);
    EXPECT_DOUBLE_EQ(a.coordinates[6].x, -35.98767333333);
    EXPECT_DOUBLE_EQ(a.coordinates[6].z, 2663.65);
    EXPECT_TRUE(std::isnan(a.coordinates[0].x));
    // The fix's altitude is the trace's elevation (for the topographic shift).
    ASSERT_EQ(a.elevationsM.size(), 10u);
    EXPECT_DOUBLE_EQ(a.elevationsM[6], 2663.65);
    EXPECT_TRUE(std::isnan(a.elevationsM[0]));
    EXPECT_TRUE(HasWarning(a, "beyond"));
    // Its time, 2019-07-26 16:58:43 UTC; the other traces have none.
    ASSERT_EQ(a.traceTimes.size(), 10u);
    EXPECT_EQ(a.traceTimes[6].date, 20190726);
    EXPECT_EQ(a.traceTimes[6].secondOfDay, 16 * 3600 + 58 * 60 + 43);
    EXPECT_TRUE(std::isnan(a.traceTimes[0].secondOfDay));
    // The DC offset of the raw samples.
    const std::vector<double> v = AllValues(*f);
    double mean = 0.0;
    for (double x : v) mean += x / v.size();
    EXPECT_NEAR(mean, 2050.0, 100.0);

    ReadOptions byWindow;
    byWindow.rd3UseTimeWindow = true;
    const Acquisition w = SurveyFile::Open(path, byWindow)->acquisition();
    EXPECT_DOUBLE_EQ(w.sampleIntervalNs, 422.061312 / 512);
    EXPECT_EQ(w.sampleIntervalSource, "TIMEWINDOW / SAMPLES");

    std::unique_ptr<SurveyFile> g = ExpectRewriteKeeps(*f, "ten.rd3");
    EXPECT_EQ(Slurp(g->path()), Slurp(path));
    EXPECT_EQ(Slurp(Path("ten.rad")), a.native.text);
    EXPECT_EQ(Slurp(Path("ten.cor")).rfind("7\t2019-07-26\t16:58:43\t75.63203\tN\t35.98767333333\tW\t", 0), 0u);
}

Acquisition Rd3Record(SampleType type) {
    Acquisition a = Dt1Record(type);
    a.tracePositionsM.clear();  // RD3/RD7 keep no per-trace positions
    a.elevationsM.clear();
    a.timeZeroSample = 1.0;
    a.stacks = 8;
    a.antennaName = "shielded";
    a.coordinates.resize(static_cast<size_t>(a.traces));
    a.coordinates[2] = {10.25, -45.5, 100.0};
    a.coordinates[5] = {-3.125, 60.0, -2.5};
    a.geographic = true;
    // A dated time with a fraction, and a time of day alone.
    a.traceTimes.assign(static_cast<size_t>(a.traces), TraceTime());
    a.traceTimes[2] = {20240229, 13 * 3600 + 5 * 60 + 59.25};
    a.traceTimes[5] = {0, 86399.5};
    return a;
}

TEST_F(TextFormatsTest, Rd3AndRd7RoundTrip) {
    for (SampleType type : {SampleType::kI16, SampleType::kI32}) {
        SCOPED_TRACE(SampleTypeName(type));
        const Acquisition a = Rd3Record(type);
        const std::string name = type == SampleType::kI16 ? "b.rd3" : "b.RD7";
        const std::vector<double> values = TestValues(a, type == SampleType::kI32 ? 1000.0 : 1.0);
        std::unique_ptr<SurveyFile> f = Write(Path(name), a, values);
        const Acquisition& b = f->acquisition();
        EXPECT_EQ(b.format, type == SampleType::kI16 ? Format::kRd3 : Format::kRd7);
        EXPECT_EQ(b.sampleType, type);
        EXPECT_TRUE(SameBits(AllValues(*f), values));
        EXPECT_DOUBLE_EQ(b.sampleIntervalNs, a.sampleIntervalNs);
        EXPECT_EQ(b.traceSpacingM, a.traceSpacingM);
        EXPECT_FALSE(b.timeTriggered);
        EXPECT_EQ(b.antennaFrequencyMHz, 250.0);
        EXPECT_EQ(b.antennaSeparationM, a.antennaSeparationM);
        EXPECT_EQ(b.stacks, a.stacks);
        ASSERT_EQ(b.coordinates.size(), a.coordinates.size());
        EXPECT_EQ(b.coordinates[2].x, 10.25);
        EXPECT_EQ(b.coordinates[2].y, -45.5);
        EXPECT_EQ(b.coordinates[5].z, -2.5);
        EXPECT_TRUE(std::isnan(b.coordinates[0].y));
        ASSERT_EQ(b.traceTimes.size(), a.traceTimes.size());
        EXPECT_EQ(b.traceTimes[2].date, 20240229);
        EXPECT_EQ(b.traceTimes[2].secondOfDay, a.traceTimes[2].secondOfDay);
        EXPECT_EQ(b.traceTimes[5].date, 0);
        EXPECT_EQ(b.traceTimes[5].secondOfDay, 86399.5);
        EXPECT_TRUE(b.warnings.empty()) << b.warnings.front();
        ExpectRewriteKeeps(*f, "again" + name.substr(1));
        if (type == SampleType::kI16) {
            std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(Path("s16.rd3"), {b});
            const std::vector<int16_t> s16 = AllSamples16(*f);
            w->WriteScans16(s16.data(), b.traces);
            w->Commit();
            EXPECT_EQ(AllSamples16(*SurveyFile::Open(Path("s16.rd3"))), s16);
        }
    }
    // Time-triggered records keep their trace interval.
    Acquisition t = Rd3Record(SampleType::kI16);
    t.timeTriggered = true;
    t.traceSpacingM = kUnknown;
    t.traceIntervalS = 0.05;
    const Acquisition r = Write(Path("t.rd3"), t, TestValues(t, 1.0))->acquisition();
    EXPECT_TRUE(r.timeTriggered);
    EXPECT_EQ(r.traceIntervalS, 0.05);
}

TEST_F(TextFormatsTest, ChangedFactsAreWrittenOverTheNativeHeader) {
    // A record read from a file, then changed as a caller's overrides change
    // it: the rewritten HD or RAD states the new facts over the old lines.
    for (bool dt1 : {true, false}) {
        SCOPED_TRACE(dt1 ? "DT1" : "RD3");
        const Acquisition built = dt1 ? Dt1Record(SampleType::kI16) : Rd3Record(SampleType::kI16);
        std::unique_ptr<SurveyFile> f = Write(Path(dt1 ? "a.DT1" : "a.rd3"), built, TestValues(built, 1.0));
        Acquisition a = f->acquisition();
        ASSERT_EQ(a.native.format, dt1 ? Format::kDt1 : Format::kRd3);
        a.sampleIntervalNs = 0.125;
        a.traceSpacingM = 0.5;
        a.antennaFrequencyMHz = 500.0;
        a.antennaSeparationM = 1.25;
        a.stacks = 64;
        if (dt1) {
            a.timeZeroSample = 7.0;  // an RAD has no time zero
            // Trace-header facts of one trace, written over its copied header.
            a.tracePositionsM[1] = 9.5;
            a.elevationsM[1] = -3.0;
            a.traceTimes[1].secondOfDay = 4321.5;
        }
        std::unique_ptr<SurveyFile> g = Write(Path(dt1 ? "b.DT1" : "b.rd3"), a, AllValues(*f));
        const Acquisition& b = g->acquisition();
        EXPECT_EQ(b.sampleIntervalNs, 0.125);
        EXPECT_EQ(b.traceSpacingM, 0.5);
        EXPECT_EQ(b.antennaFrequencyMHz, 500.0);
        EXPECT_EQ(b.antennaSeparationM, 1.25);
        EXPECT_EQ(b.stacks, 64);
        if (dt1) {
            EXPECT_EQ(b.timeZeroSample, 7.0);
            EXPECT_EQ(b.tracePositionsM[1], 9.5);
            EXPECT_EQ(b.elevationsM[1], -3.0);
            EXPECT_EQ(b.traceTimes[1].secondOfDay, 4321.5);
            // The other traces' headers keep every bit.
            EXPECT_EQ(std::vector<uint8_t>(b.native.traceHeaders.begin() + 256, b.native.traceHeaders.end()),
                      std::vector<uint8_t>(a.native.traceHeaders.begin() + 256, a.native.traceHeaders.end()));
        }
        EXPECT_TRUE(b.warnings.empty()) << b.warnings.front();  // e.g. TIMEWINDOW and FREQUENCY disagreeing
        EXPECT_TRUE(SameBits(AllValues(*g), AllValues(*f)));
    }
}

TEST_F(TextFormatsTest, HostileRd3InputsFailOrWarn) {
    const Acquisition a = Rd3Record(SampleType::kI16);
    Write(Path("h.rd3"), a, TestValues(a, 1.0));
    const std::string rd3 = Slurp(Path("h.rd3")), rad = Slurp(Path("h.rad"));
    auto expectError = [&](const std::string& field, const std::string& part) {
        try {
            SurveyFile::Open(Path("h.rd3"));
            ADD_FAILURE() << "no error; expected " << field;
        } catch (const SurveyError& e) {
            EXPECT_EQ(e.field(), field) << e.what();
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    };
    auto withRad = [&](const std::string& key, const std::string& value) {
        Spit(Path("h.rad"), internal::ReplaceValues(rad, ':', {{key, value}}, ":"));
    };
    withRad("SAMPLES", "0");
    expectError("SAMPLES", "h.rad");
    withRad("SAMPLES", "999999999");
    expectError("SAMPLES", "do not fit");
    withRad("SAMPLES", "many");
    expectError("SAMPLES", "whole");
    // Antenna without a frequency, no FREQUENCY: NaN and warnings, the
    // interval from TIMEWINDOW.
    withRad("ANTENNAS", "shielded");
    Spit(Path("h.rad"), internal::ReplaceValues(Slurp(Path("h.rad")), ':', {{"FREQUENCY", "x"}}, ":"));
    Acquisition b = SurveyFile::Open(Path("h.rd3"))->acquisition();
    EXPECT_TRUE(std::isnan(b.antennaFrequencyMHz));
    EXPECT_TRUE(HasWarning(b, "shielded"));
    EXPECT_EQ(b.sampleIntervalSource, "TIMEWINDOW / SAMPLES");
    Spit(Path("h.rad"), rad);

    // Broken .COR lines are skipped with a warning; the good ones count.
    const std::string cor = Slurp(Path("h.cor"));
    Spit(Path("h.cor"), "junk\r\n3\t2019\t00\t95.0\tN\t1\tE\t0\tM\t1\r\n" + cor + "\t\tx\r\n");
    b = SurveyFile::Open(Path("h.rd3"))->acquisition();
    EXPECT_TRUE(HasWarning(b, "3 unreadable line(s) skipped, the first is line 1"));
    EXPECT_EQ(b.coordinates[2].x, 10.25);
    // A date that is no day keeps the position and the time of day; the
    // zeros of a log without a clock give no time.
    Spit(Path("h.cor"), "3\t2019-02-29\t12:00:00.5\t45.5\tS\t10.25\tE\t100\tM\t1\r\n"
                        "6\t0000-00-00\t00:00:00\t60\tN\t3.125\tW\t-2.5\tM\t1\r\n");
    b = SurveyFile::Open(Path("h.rd3"))->acquisition();
    EXPECT_EQ(b.coordinates[5].z, -2.5);
    ASSERT_EQ(b.traceTimes.size(), static_cast<size_t>(b.traces));
    EXPECT_EQ(b.traceTimes[2].date, 0);
    EXPECT_EQ(b.traceTimes[2].secondOfDay, 43200.5);
    EXPECT_TRUE(std::isnan(b.traceTimes[5].secondOfDay));
    Spit(Path("h.cor"), cor);

    // A partial last trace and a LAST TRACE that disagrees: warnings.
    Spit(Path("h.rd3"), rd3.substr(0, rd3.size() - 3));
    b = SurveyFile::Open(Path("h.rd3"))->acquisition();
    EXPECT_EQ(b.traces, a.traces - 1);
    EXPECT_TRUE(HasWarning(b, "partial trace"));
    EXPECT_TRUE(HasWarning(b, "LAST TRACE"));
    Spit(Path("h.rd3"), rd3.substr(0, 40));
    expectError("SAMPLES", "do not fit");

    std::filesystem::remove(Path("h.rad"));
    expectError(".RAD", ".RAD");
    EXPECT_THROW(internal::MakeRd3Writer({a}, SampleType::kF32), SurveyError);
}

// ---- shared text helper, fuzz seeds ---------------------------------------

TEST(TextHeaderTest, ValuesAreReplacedInPlaceAndNumbersReadBackExactly) {
    const std::string text = "A   = 1 \r\r\nB=2\rjunk\n";
    EXPECT_EQ(internal::ReplaceValues(text, '=', {{"a", "10"}, {"C", "3"}}, " = "),
              "A   = 10 \r\r\nB=2\rjunk\nC = 3\r\n");
    const internal::KeyValueText kv("t.HD", text, '=');
    EXPECT_EQ(kv.Number("b"), 2.0);
    EXPECT_TRUE(std::isnan(kv.Number("junk")));
    for (double v : {0.1, 1.0 / 3.0, 2426.187744, -1e-300, 123456789.125}) {
        EXPECT_EQ(std::strtod(internal::FormatNumber(v).c_str(), nullptr), v);
    }
    EXPECT_EQ(internal::LeadingNumber("500_shielded"), 500.0);
    EXPECT_EQ(internal::LeadingNumber(" 250 MHz"), 250.0);
    EXPECT_TRUE(std::isnan(internal::LeadingNumber("shielded 500")));
}

// The fuzz targets' seeds: tiny files made by the writers, in the targets'
// input encoding. Run through the fuzz harness here; written out as the
// corpora when VANTIR3_WRITE_FUZZ_SEEDS names the fuzz/corpus folder.
TEST_F(TextFormatsTest, FuzzSeeds) {
    const char* out = std::getenv("VANTIR3_WRITE_FUZZ_SEEDS");
    auto small = [](Acquisition a) {
        a.traces = 3;
        a.samples = 8;
        a.tracePositionsM.resize(3);
        if (!a.elevationsM.empty()) a.elevationsM.resize(3);
        if (!a.coordinates.empty()) a.coordinates.resize(3);
        return a;
    };
    struct Seed {
        std::string target, name;
        Acquisition a;
        std::string main;
        std::vector<std::string> companions;
    };
    // The DT1 seeds have a GPS log.
    auto located = [](Acquisition a) {
        for (int64_t t = 0; t < a.traces; ++t) a.coordinates.push_back({10.5 + 1e-5 * t, 45.25, 200.0 + t});
        a.geographic = true;
        a.traceTimeBasis = "UTC";
        return a;
    };
    std::vector<Seed> seeds = {
        {"fuzz_survey_dt1", "i16", small(located(Dt1Record(SampleType::kI16))), "s.DT1", {".HD", ".GPS"}},
        {"fuzz_survey_dt1", "f32", small(located(Dt1Record(SampleType::kF32))), "s.DT1", {".HD", ".GPS"}},
        {"fuzz_survey_rd3", "rd3", small(Rd3Record(SampleType::kI16)), "s.rd3", {".rad", ".cor"}},
        {"fuzz_survey_rd3", "rd7", small(Rd3Record(SampleType::kI32)), "s.rd7", {".rad", ".cor"}},
    };
    for (Seed& s : seeds) {
        Write(Path(s.main), s.a, TestValues(s.a, 1.0));
        std::vector<std::string> texts;
        for (const std::string& ext : s.companions) texts.push_back(Slurp(Path("s" + ext)));
        const std::string input = vantir3_fuzz::EncodeSurveyInput(texts, Slurp(Path(s.main)));
        EXPECT_LT(input.size(), 10000u);
        const bool rd7 = s.name == "rd7";
        std::vector<std::string> names;
        for (const std::string& ext : s.companions) names.push_back("x" + ext);
        EXPECT_TRUE(vantir3_fuzz::RunSurveyInput(reinterpret_cast<const uint8_t*>(input.data()), input.size(),
                                                 rd7 ? "x.rd7" : "x" + s.main.substr(1), names))
            << s.name;
        if (out != nullptr) {
            std::filesystem::create_directories(std::string(out) + "/" + s.target);
            Spit(std::string(out) + "/" + s.target + "/" + s.name, input);
        }
    }
}

}  // namespace
}  // namespace survey
}  // namespace vantir3
