// DZT reading and writing: the real sample files' facts, round trips of
// every writable sample type and of a multi-channel file, placed writes in
// any order, header bytes kept through a rewrite, GPS and DZX companions,
// and hostile headers.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/survey_checks.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_data.h"
#include "vantir3_survey/format_io.h"
#include "vantir3_survey/nmea.h"
#include "vantir3_survey/survey.h"

namespace vantir3 {
namespace survey {
namespace {

using vantir3_test::ExpectSameFacts;
using vantir3_test::HasWarning;
using vantir3_test::ReadBytes;
using vantir3_test::TempDir;
using vantir3_test::WriteBytes;

void WriteText(const std::string& path, const std::string& text) {
    WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// One channel's traces as stored values / as 16-bit samples.
void ReadChannel(const SurveyFile& f, int32_t channel, double* out) {
    f.ReadTraces(channel, 0, f.traceCount(), out);
}
void ReadChannel(const SurveyFile& f, int32_t channel, int16_t* out) {
    f.ReadTraces16(channel, 0, f.traceCount(), out);
}

template <typename T>
std::vector<T> Channel(const SurveyFile& f, int32_t channel) {
    std::vector<T> v(static_cast<size_t>(f.traceCount() * f.sampleCount()));
    ReadChannel(f, channel, v.data());
    return v;
}
std::vector<double> ChannelValues(const SurveyFile& f, int32_t channel) { return Channel<double>(f, channel); }
std::vector<int16_t> ChannelSamples16(const SurveyFile& f, int32_t channel) { return Channel<int16_t>(f, channel); }

// Every channel's traces scan after scan, as the writer takes them.
template <typename T = double>
std::vector<T> Interleaved(const SurveyFile& f) {
    const int64_t n = f.sampleCount(), traces = f.traceCount(), nc = f.channelCount();
    std::vector<T> out(static_cast<size_t>(traces * n * nc));
    for (int32_t c = 0; c < nc; ++c) {
        const std::vector<T> v = Channel<T>(f, c);
        for (int64_t k = 0; k < traces; ++k) {
            std::copy(v.begin() + k * n, v.begin() + (k + 1) * n, out.begin() + (k * nc + c) * n);
        }
    }
    return out;
}

// The facts a rewrite must keep, with the DZT's marks and range gain.
void ExpectSameDztFacts(const Acquisition& a, const Acquisition& b) {
    ExpectSameFacts(a, b);
    ASSERT_EQ(a.marks.size(), b.marks.size());
    for (size_t i = 0; i < a.marks.size(); ++i) {
        EXPECT_EQ(a.marks[i].trace, b.marks[i].trace);
        EXPECT_EQ(a.marks[i].value, b.marks[i].value);
    }
    ASSERT_EQ(a.rangeGain.size(), b.rangeGain.size());
    for (size_t i = 0; i < a.rangeGain.size(); ++i) {
        EXPECT_EQ(a.rangeGain[i].sample, b.rangeGain[i].sample);
        EXPECT_EQ(a.rangeGain[i].gainDb, b.rangeGain[i].gainDb);
    }
}

struct RealFile {
    const char* name;
    int64_t traces;
    int32_t samples;
    SampleType type;
    double rangeNs, positionNs, spacingM;
    const char* spacingSource;
    const char* antenna;
    double mhz;
    int64_t dataOffset;
    size_t marks;
};

const RealFile kRealFiles[] = {
    {"dzt/gprpy_FILE____032.DZT", 1040, 512, SampleType::kU16, 48, 0, 1.0 / 50, "scans per metre", "400MHz", 400,
     1024, 11},
    {"dzt/gprdata_cube_FILE____001.DZT", 451, 512, SampleType::kU16, 50, 0, 1.0 / 50, "scans per metre", "400MHz",
     400, 1024, 5},
    {"dzt/impdar_sample32.DZT", 345, 2048, SampleType::kI32, 2300, -230, 1.0 / 300, "DZX", "5106", 200, 131072, 0},
};

TEST(SurveyDzt, RealFilesOpenWithTheirFacts) {
    for (const RealFile& r : kRealFiles) {
        VANTIR3_REQUIRE_DATA(path, r.name);
        SCOPED_TRACE(r.name);
        const std::unique_ptr<SurveyFile> f = SurveyFile::Open(path);
        ASSERT_EQ(f->channelCount(), 1);
        const Acquisition& a = f->acquisition();
        EXPECT_EQ(f->format(), Format::kDzt);
        EXPECT_EQ(a.traces, r.traces);
        EXPECT_EQ(a.samples, r.samples);
        EXPECT_EQ(a.sampleType, r.type);
        EXPECT_EQ(f->layout().dataOffset, r.dataOffset);
        EXPECT_EQ(f->layout().skipWords, 2);
        EXPECT_DOUBLE_EQ(a.sampleIntervalNs, r.rangeNs / r.samples);
        EXPECT_EQ(a.sampleIntervalSource, "range / samples");
        EXPECT_EQ(a.timeWindowNs, r.rangeNs);
        EXPECT_EQ(a.firstSampleTimeNs, r.positionNs);
        EXPECT_DOUBLE_EQ(a.timeZeroSample, 1.0 - r.positionNs / (r.rangeNs / r.samples));
        EXPECT_NEAR(a.traceSpacingM, r.spacingM, 1e-9);
        EXPECT_FALSE(a.timeTriggered);
        EXPECT_EQ(a.traceSpacingSource, r.spacingSource);
        EXPECT_EQ(a.antennaName, r.antenna);
        EXPECT_EQ(a.antennaFrequencyMHz, r.mhz);
        EXPECT_EQ(a.positionUnit, "m");
        EXPECT_TRUE(std::isnan(a.antennaSeparationM));
        EXPECT_TRUE(HasWarning(a, "separation"));
        EXPECT_FALSE(HasWarning(a, "not a known antenna"));
        EXPECT_EQ(a.native.fileHeader.size(), static_cast<size_t>(r.dataOffset));
        // The two leading words: scan counter 0, 1, 2 ... and marks 0x6400.
        const int bytes = SampleTypeBytes(r.type);
        EXPECT_EQ(a.native.traceHeaderBytes, 2 * bytes);
        EXPECT_EQ(a.native.traceHeaders.size(), static_cast<size_t>(r.traces * 2 * bytes));
        ASSERT_EQ(a.marks.size(), r.marks);
        for (const Mark& m : a.marks) EXPECT_EQ(m.value, 0x6400);
        const std::vector<double> v = ChannelValues(*f, 0);
        const double zeroCode = r.type == SampleType::kU16 ? -32768 : 0;
        for (int64_t k : {int64_t{0}, int64_t{1}, r.traces - 1}) {
            EXPECT_EQ(v[k * r.samples], zeroCode + k) << k;
        }
        const std::vector<int16_t> s = ChannelSamples16(*f, 0);
        for (int64_t k = 0; k < r.traces; ++k) {
            ASSERT_EQ(s[k * r.samples], s[k * r.samples + 2]);
            ASSERT_EQ(s[k * r.samples + 1], s[k * r.samples + 2]);
        }
        if (r.type == SampleType::kI32) {
            // 32-bit samples spanning about 2e6 reach the library scaled by a power of two.
            EXPECT_GE(a.scale, 32.0);
            ASSERT_EQ(a.rangeGain.size(), 1u);
            EXPECT_EQ(a.rangeGain[0].sample, 0.0);
            EXPECT_NEAR(a.rangeGain[0].gainDb, 0.0, 1e-6);
            EXPECT_FALSE(a.native.text.empty());  // the DZX
            ASSERT_EQ(a.coordinates.size(), static_cast<size_t>(r.traces));
            EXPECT_TRUE(a.geographic);
            EXPECT_NEAR(a.coordinates[100].y, 47 + 39.2552 / 60, 1e-9);
            EXPECT_NEAR(a.coordinates[100].x, -(122 + 18.5815 / 60), 1e-9);
            EXPECT_TRUE(std::isnan(a.coordinates[100].z));
            EXPECT_TRUE(a.elevationsM.empty());
        } else {
            EXPECT_EQ(a.scale, 1.0);
            EXPECT_TRUE(a.rangeGain.empty());
            EXPECT_TRUE(a.coordinates.empty());
        }
    }
}

TEST(SurveyDzt, RealFilesWriteBackUnchanged) {
    for (const RealFile& r : kRealFiles) {
        VANTIR3_REQUIRE_DATA(path, r.name);
        SCOPED_TRACE(r.name);
        TempDir dir;
        const std::string out = dir.File("back.DZT"), out16 = dir.File("back16.DZT");
        dir.File("back.DZX"), dir.File("back.DZG"), dir.File("back16.DZX"), dir.File("back16.DZG");
        const std::unique_ptr<SurveyFile> f = SurveyFile::Open(path);
        {
            std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(out, f->acquisitions());
            w->WriteScans(Interleaved(*f).data(), f->traceCount());
            w->Commit();
        }
        const std::unique_ptr<SurveyFile> g = SurveyFile::Open(out);
        EXPECT_EQ(ChannelValues(*g, 0), ChannelValues(*f, 0));
        ExpectSameDztFacts(f->acquisition(), g->acquisition());
        EXPECT_EQ(g->acquisition().native.fileHeader, f->acquisition().native.fileHeader);
        EXPECT_EQ(g->acquisition().native.traceHeaders, f->acquisition().native.traceHeaders);
        // Through 16-bit samples: the writer restores the words the 16-bit view replaced.
        {
            std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(out16, f->acquisitions());
            w->WriteScans16(ChannelSamples16(*f, 0).data(), f->traceCount());
            w->Commit();
        }
        const std::unique_ptr<SurveyFile> h = SurveyFile::Open(out16);
        EXPECT_EQ(ChannelSamples16(*h, 0), ChannelSamples16(*f, 0));
        EXPECT_EQ(h->acquisition().native.traceHeaders, f->acquisition().native.traceHeaders);
        if (r.type == SampleType::kU16) {
            EXPECT_EQ(ReadBytes(out16), ReadBytes(path));  // every byte
        }
    }
}

// A single-channel acquisition with facts that floats hold exactly.
Acquisition Synthetic(int64_t traces, int32_t samples) {
    Acquisition a;
    a.traces = traces;
    a.samples = samples;
    a.sampleIntervalNs = 0.125;
    a.firstSampleTimeNs = -2.5;
    a.timeZeroSample = 21.0;
    a.traceSpacingM = 0.25;
    a.traceSpacingSource = "scans per metre";
    a.antennaName = "400MHz";
    a.antennaFrequencyMHz = 400;
    a.native.format = Format::kDt1;  // no DZT header to reuse
    return a;
}

TEST(SurveyDzt, EveryTypeAndMultipleChannelsRoundTrip) {
    const int64_t traces = 7;
    const int32_t samples = 40;
    struct Case {
        SampleType type;
        double lo, hi;
    };
    for (const Case& c : {Case{SampleType::kU8, -128, 127}, Case{SampleType::kU16, -32768, 32767},
                          Case{SampleType::kI32, -2000000000.0, 2000000000.0}}) {
        SCOPED_TRACE(SampleTypeName(c.type));
        TempDir dir;
        const std::string path = dir.File("s.dzt");
        Acquisition a = Synthetic(traces, samples);
        Acquisition b = a;
        b.channel = 1;
        b.antennaName = "300/800D";  // a dual-frequency antenna: channel 1 is its 800 MHz part
        b.antennaFrequencyMHz = 800;
        b.firstSampleTimeNs = 4.0;
        b.timeZeroSample = -31.0;
        b.rangeGain = {{0, -20}, {19.5, 15}, {39, 38}};
        a.marks = {{3, 0x44}};
        std::vector<double> values(static_cast<size_t>(traces * 2 * samples));
        for (size_t i = 0; i < values.size(); ++i) {
            values[i] = std::floor(c.lo + (c.hi - c.lo) * ((i * 7919) % 1000) / 999.0);
        }
        // The first two samples of every trace are not radar data: the file
        // holds the scan counter and the mark word there, whatever is given.
        const double zeroCode = c.type == SampleType::kU8 ? -128 : c.type == SampleType::kU16 ? -32768 : 0;
        for (int64_t k = 0; k < traces; ++k) {
            for (int32_t ch = 0; ch < 2; ++ch) {
                values[static_cast<size_t>((2 * k + ch) * samples)] = zeroCode + static_cast<double>(k);
                values[static_cast<size_t>((2 * k + ch) * samples + 1)] = zeroCode + (ch == 0 && k == 3 ? 0x44 : 0);
            }
        }
        WriteOptions options;
        options.sampleTypeGiven = true;
        options.sampleType = c.type;
        {
            std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, {a, b}, options);
            w->WriteScans(values.data(), traces);
            w->Commit();
        }
        const std::unique_ptr<SurveyFile> f = SurveyFile::Open(path);
        ASSERT_EQ(f->channelCount(), 2);
        EXPECT_EQ(f->layout().dataOffset, 2048);
        EXPECT_EQ(Interleaved(*f), values);
        for (int32_t ch = 0; ch < 2; ++ch) {
            const Acquisition& want = ch == 0 ? a : b;
            const Acquisition& got = f->acquisition(ch);
            EXPECT_EQ(got.sampleType, c.type);
            EXPECT_EQ(got.sampleIntervalNs, 0.125);
            EXPECT_EQ(got.firstSampleTimeNs, want.firstSampleTimeNs);
            EXPECT_EQ(got.timeZeroSample, want.timeZeroSample);
            EXPECT_EQ(got.traceSpacingM, 0.25);
            EXPECT_EQ(got.antennaName, want.antennaName);
            EXPECT_EQ(got.antennaFrequencyMHz, want.antennaFrequencyMHz);
            EXPECT_EQ(HasWarning(got, "not a known antenna"), ch == 1);
            ASSERT_EQ(got.rangeGain.size(), want.rangeGain.size());
            for (size_t j = 0; j < got.rangeGain.size(); ++j) {
                EXPECT_EQ(got.rangeGain[j].sample, want.rangeGain[j].sample);
                EXPECT_EQ(got.rangeGain[j].gainDb, want.rangeGain[j].gainDb);
            }
        }
        // Written again from what was read: the header blocks are reused, every byte the same.
        const std::string again = dir.File("again.DZT");
        {
            std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(again, f->acquisitions());
            w->WriteScans(Interleaved(*f).data(), traces);
            w->Commit();
        }
        EXPECT_EQ(ReadBytes(again), ReadBytes(path));
        // A rewrite from 16-bit samples: counter and marks in the two words,
        // the scale applied to the rest.
        const std::string path16 = dir.File("s16.DZT");
        a.scale = f->acquisition(0).scale;
        b.scale = f->acquisition(1).scale;
        const std::vector<int16_t> s16 = Interleaved<int16_t>(*f);
        {
            std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path16, {a, b}, options);
            w->WriteScans16(s16.data(), traces);
            w->Commit();
        }
        const std::unique_ptr<SurveyFile> g = SurveyFile::Open(path16);
        for (int32_t ch = 0; ch < 2; ++ch) {
            const std::vector<double> v = ChannelValues(*g, ch);
            for (int64_t k = 0; k < traces; ++k) {
                EXPECT_EQ(v[k * samples], zeroCode + k);
                EXPECT_EQ(v[k * samples + 1], zeroCode + (ch == 0 && k == 3 ? 0x44 : 0));
            }
            EXPECT_EQ(ChannelSamples16(*g, ch), ChannelSamples16(*f, ch));
        }
        ASSERT_EQ(g->acquisition(0).marks.size(), 1u);
        EXPECT_EQ(g->acquisition(0).marks[0].trace, 3);
        EXPECT_EQ(g->acquisition(0).marks[0].value, 0x44);
        EXPECT_TRUE(g->acquisition(1).marks.empty());
        // From the records read, the 16-bit rewrite restores the recorded words instead.
        const std::string restored = dir.File("restored.DZT");
        {
            std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(restored, f->acquisitions());
            w->WriteScans16(s16.data(), traces);
            w->Commit();
        }
        const std::unique_ptr<SurveyFile> r = SurveyFile::Open(restored);
        for (int32_t ch = 0; ch < 2; ++ch) {
            const std::vector<double> want = ChannelValues(*f, ch), got = ChannelValues(*r, ch);
            for (int64_t k = 0; k < traces; ++k) {
                EXPECT_EQ(got[k * samples], want[k * samples]);
                EXPECT_EQ(got[k * samples + 1], want[k * samples + 1]);
            }
            if (c.type == SampleType::kU16) {
                EXPECT_EQ(got, want);
            }
        }
    }
}

TEST(SurveyDzt, RecordsOfOtherFormatsKeepTheirFacts) {
    // Time zero as the library sees it, a frequency without an antenna name,
    // and a time-triggered survey.
    TempDir dir;
    const std::string path = dir.File("foreign.DZT");
    Acquisition a = Synthetic(3, 20);
    a.sampleIntervalNs = 0.5;
    a.timeZeroSample = 3.5;
    a.firstSampleTimeNs = 0.0;
    a.antennaName = "";
    a.antennaFrequencyMHz = 250;
    a.traceSpacingM = kUnknown;
    a.timeTriggered = true;
    a.traceIntervalS = 0.05;
    a.marks = {{1, 1}};  // a format without mark words
    a.traceTimes = {{0, 5.0}, {20190726, 16 * 3600 + 58 * 60 + 43.9}, {}};
    std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, {a});
    w->WriteScans(std::vector<double>(3 * 20, 1.0).data(), 3);
    w->Commit();
    // Every trace's first two words are its scan counter and its mark word,
    // never samples: the samples (all 1) would read back as marks.
    const std::vector<uint8_t> bytes = vantir3_test::ReadBytes(path);
    ASSERT_EQ(bytes.size(), 1024u + 3 * 40);
    // Created when the first dated trace was recorded: 2019-07-26 16:58:42 (seconds halved).
    const uint32_t created = bytes[32] | bytes[33] << 8 | bytes[34] << 16 | static_cast<uint32_t>(bytes[35]) << 24;
    EXPECT_EQ(created, 21u | 58u << 5 | 16u << 11 | 26u << 16 | 7u << 21 | 39u << 25);
    for (int t = 0; t < 3; ++t) {
        const uint8_t* words = &bytes[1024 + 40 * t];
        EXPECT_EQ(words[0] | words[1] << 8, t);
        EXPECT_EQ(words[2] | words[3] << 8, t == 1 ? 1 : 0);
        EXPECT_EQ(words[4] | words[5] << 8, 0x8001) << "samples after the words";
    }
    const Acquisition b = SurveyFile::Open(path)->acquisition();
    ASSERT_EQ(b.marks.size(), 1u);
    EXPECT_EQ(b.marks[0].trace, 1);
    EXPECT_EQ(b.sampleType, SampleType::kU16);  // i16 input, the nearest type a DZT holds
    EXPECT_EQ(b.timeZeroSample, 3.5);
    EXPECT_EQ(b.firstSampleTimeNs, -1.25);
    EXPECT_EQ(b.antennaName, "250MHz");
    EXPECT_EQ(b.antennaFrequencyMHz, 250);
    EXPECT_TRUE(b.timeTriggered);
    EXPECT_EQ(b.traceIntervalS, 0.05);
    EXPECT_EQ(b.traceSpacingSource, "scans per second");
}

// Scans written at their place, in any order and from four threads at once,
// make the same bytes as one append: two channels of which one is scaled
// (DZT, with its words and marks), and trace headers (DT1). A scan written
// twice, outside the declared ones or left out is refused, and so is a
// commit after a write that failed.
TEST(SurveyDzt, PlacedWritesInAnyOrderMakeTheAppendedFile) {
#if defined(VANTIR3_TEST_UNDER_EMULATOR)
    GTEST_SKIP() << "the emulator cannot start threads";
#endif
    const int64_t traces = 300, block = 3;
    const int32_t samples = 64;
    for (const std::string ext : {"DZT", "DT1"}) {
        SCOPED_TRACE(ext);
        TempDir dir;
        Acquisition a = Synthetic(traces, samples);
        a.marks = {{5, 0x11}, {250, 0x22}};
        std::vector<Acquisition> channels = {a};
        if (ext == "DZT") {
            channels.push_back(a);
            channels[1].channel = 1;
            channels[1].scale = 2.0;
        }
        const int64_t scan = static_cast<int64_t>(channels.size()) * samples;
        std::vector<int16_t> s16(static_cast<size_t>(traces * scan));
        for (size_t i = 0; i < s16.size(); ++i) s16[i] = static_cast<int16_t>((i * 7919) % 20000 - 10000);
        const std::string appended = dir.File("appended." + ext), placed = dir.File("placed." + ext);
        dir.File("appended.HD");
        dir.File("placed.HD");
        {
            std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(appended, channels);
            w->WriteScans16(s16.data(), traces);
            w->Commit();
        }
        {
            std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(placed, channels);
            const int64_t blocks = (traces + block - 1) / block;
            auto write = [&](int64_t k) {
                const int64_t first = k * block;
                w->WriteScans16At(first, s16.data() + first * scan, std::min(block, traces - first));
            };
            // Four threads, each every fourth block, one of them from the
            // last: writes meet, so some wait to be written by another
            // thread or by the commit.
            std::vector<std::thread> others;
            for (int64_t t = 1; t < 4; ++t) {
                others.emplace_back([&, t] {
                    for (int64_t k = t; k < blocks; k += 4) write(k);
                });
            }
            for (int64_t k = (blocks - 1) / 4 * 4; k >= 0; k -= 4) write(k);
            for (std::thread& t : others) t.join();
            w->Commit();
        }
        EXPECT_EQ(ReadBytes(placed), ReadBytes(appended));
    }

    TempDir dir;
    const std::string path = dir.File("x.DZT");
    const std::vector<int16_t> s(10 * 16, 1);
    {
        std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, {Synthetic(10, 16)});
        w->WriteScans16At(4, s.data(), 3);
        EXPECT_THROW(w->WriteScans16At(6, s.data(), 2), SurveyError);
        EXPECT_THROW(w->WriteScans16At(2, s.data(), 3), SurveyError);
        EXPECT_THROW(w->WriteScans16At(9, s.data(), 2), SurveyError);
        EXPECT_THROW(w->WriteScans16At(-1, s.data(), 1), SurveyError);
        w->WriteScans16(s.data(), 4);  // appends begin at scan 0
        EXPECT_THROW(w->WriteScans16(s.data(), 1), SurveyError);  // scan 4 again
        w->WriteScans16At(8, s.data(), 2);
        try {
            w->Commit();
            FAIL() << "scan 7 missing, committed";
        } catch (const SurveyError& e) {
            EXPECT_EQ(e.field(), "traces");
        }
    }
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
    {
        Acquisition scaled = Synthetic(2, 16);
        scaled.scale = 2.0;
        std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, {scaled});
        w->WriteScans16At(0, s.data(), 1);
        const std::vector<int16_t> large(16, 20000);  // 40000 does not fit 16 bits
        EXPECT_THROW(w->WriteScans16At(1, large.data(), 1), SurveyError);
        EXPECT_THROW(w->Commit(), SurveyError);
    }
    EXPECT_NE(::access(path.c_str(), F_OK), 0);
}

// A file large enough to be opened by several threads (each reads at least
// 64 chunks of 256 KiB): the same trace words and marks, in trace order, as
// one thread reads.
TEST(SurveyDzt, TraceWordsReadByThreadsAsByOne) {
#if defined(VANTIR3_TEST_UNDER_EMULATOR)
    GTEST_SKIP() << "the emulator cannot start threads";
#endif
    TempDir dir;
    const std::string path = dir.File("long.DZT");
    const int32_t samples = 64;
    const int64_t traces = 2 * 64 * (256 << 10) / (2 * samples) + 5;
    Acquisition a = Synthetic(traces, samples);
    a.marks = {{0, 1}, {traces / 2 - 1, 2}, {traces / 2, 3}, {traces - 1, 4}};
    {
        std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, {a});
        w->WriteScans16(std::vector<int16_t>(static_cast<size_t>(traces * samples), 7).data(), traces);
        w->Commit();
    }
    ReadOptions threaded;
    threaded.threads = 4;
    const Acquisition one = SurveyFile::Open(path)->acquisition();
    const Acquisition many = SurveyFile::Open(path, threaded)->acquisition();
    EXPECT_EQ(many.native.traceHeaders, one.native.traceHeaders);
    ASSERT_EQ(many.marks.size(), a.marks.size());
    for (size_t i = 0; i < a.marks.size(); ++i) {
        EXPECT_EQ(many.marks[i].trace, a.marks[i].trace);
        EXPECT_EQ(many.marks[i].value, a.marks[i].value);
    }
}

// Opened with its trace words deferred, a DZT gives them with its reads
// instead: the words the open would gather, the samples unchanged, a
// rewrite through placed writes with them equal to one from the records of
// the full open, and a file source keeps those of a range across requests.
TEST(SurveyDzt, DeferredTraceWordsComeWithTheReads) {
    const int64_t traces = 50;
    const int32_t samples = 24;
    for (const SampleType type : {SampleType::kU8, SampleType::kU16, SampleType::kI32}) {
        for (const int32_t nc : {1, 2}) {
            SCOPED_TRACE(std::string(SampleTypeName(type)) + " x" + std::to_string(nc));
            TempDir dir;
            const std::string path = dir.File("s.DZT");
            std::vector<Acquisition> records(static_cast<size_t>(nc), Synthetic(traces, samples));
            records[0].marks = {{0, 0x11}, {17, 0x64}, {49, 5}};
            if (nc == 2) {
                records[1].channel = 1;
                records[1].marks = {{3, 7}};
            }
            std::vector<int16_t> written(static_cast<size_t>(traces * nc * samples));
            for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<int16_t>((i * 7919) % 200 - 100);
            WriteOptions options;
            options.sampleTypeGiven = true;
            options.sampleType = type;
            {
                // Each trace's scan counter and mark word from the records' marks.
                std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, records, options);
                w->WriteScans16(written.data(), traces);
                w->Commit();
            }
            ReadOptions defer;
            defer.deferTraceWords = true;
            const std::unique_ptr<SurveyFile> full = SurveyFile::Open(path), deferred = SurveyFile::Open(path, defer);
            const int64_t wb = deferred->TraceWordBytes();
            ASSERT_EQ(wb, 2 * SampleTypeBytes(type));
            // Every channel's samples and words, scan after scan, as read from the deferred open.
            std::vector<int16_t> scans(static_cast<size_t>(traces * nc * samples));
            std::vector<uint8_t> words(static_cast<size_t>(traces * nc * wb));
            for (int32_t c = 0; c < nc; ++c) {
                const Acquisition& f = full->acquisition(c);
                const Acquisition& d = deferred->acquisition(c);
                ExpectSameFacts(d, f);
                EXPECT_TRUE(d.native.traceHeaders.empty());
                EXPECT_TRUE(d.marks.empty());
                EXPECT_EQ(d.native.traceHeaderBytes, wb);
                ASSERT_EQ(f.marks.size(), records[static_cast<size_t>(c)].marks.size());
                std::vector<int16_t> s(static_cast<size_t>(samples));
                for (int64_t t = 0; t < traces; ++t) {
                    uint8_t* w = words.data() + (t * nc + c) * wb;
                    deferred->ReadTraces16(c, t, 1, s.data(), w);
                    std::copy(s.begin(), s.end(), scans.begin() + (t * nc + c) * samples);
                    EXPECT_TRUE(std::equal(w, w + wb, f.native.traceHeaders.begin() + t * wb)) << "trace " << t;
                }
                std::vector<int16_t> many(static_cast<size_t>(traces * samples));
                std::vector<uint8_t> manyWords(static_cast<size_t>(traces * wb));
                deferred->ReadTraces16(c, 0, traces, many.data(), manyWords.data());
                EXPECT_EQ(manyWords, f.native.traceHeaders);
                EXPECT_EQ(many, ChannelSamples16(*full, c));
            }
            const std::string eager = dir.File("eager.DZT"), placed = dir.File("placed.DZT"),
                              wordless = dir.File("wordless.DZT");
            {
                std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(eager, full->acquisitions());
                w->WriteScans16(scans.data(), traces);
                w->Commit();
            }
            for (const bool withWords : {true, false}) {
                std::unique_ptr<SurveyWriter> w =
                    SurveyWriter::Create(withWords ? placed : wordless, deferred->acquisitions());
                for (int64_t first = traces - 7; first > -7; first -= 7) {  // blocks from the last
                    const int64_t begin = std::max<int64_t>(first, 0);
                    w->WriteScans16At(begin, scans.data() + begin * nc * samples, first + 7 - begin,
                                      withWords ? words.data() + begin * nc * wb : nullptr);
                }
                w->Commit();
            }
            EXPECT_EQ(ReadBytes(placed), ReadBytes(eager));
            EXPECT_NE(ReadBytes(wordless), ReadBytes(eager));  // the recorded marks need the words

            // A source keeps the words of traces 20..29, each once, over
            // requests of whole traces and of part of each trace.
            const int32_t c = nc - 1;
            FileSource source(*deferred, c);
            std::vector<uint8_t> kept(static_cast<size_t>(10 * wb), 0xEE);
            source.CaptureTraceWords(20, 10, kept.data());
            Mebo3DDataAxis region;
            ASSERT_TRUE(source.GetAvailableRange(&region, 0));
            MeboDataPtr out;
            MeboDataPtrClear(&out);
            region.dim[1].min = 15;
            region.dim[1].max = 24;
            ASSERT_EQ(source.GetDataCdp(out, &region, nullptr), 0);
            EXPECT_EQ(source.CapturedTraces(), 5);
            region.dim[0].min = 3;
            region.dim[0].max = 10;
            region.dim[1].min = 22;
            region.dim[1].max = 40;
            ASSERT_EQ(source.GetDataCdp(out, &region, nullptr), 0);
            EXPECT_EQ(source.CapturedTraces(), 10);
            MeboDataPtrRelease(&out);
            const std::vector<uint8_t>& all = full->acquisition(c).native.traceHeaders;
            EXPECT_EQ(kept, std::vector<uint8_t>(all.begin() + 20 * wb, all.begin() + 30 * wb));
        }
    }
}

TEST(SurveyDzt, WriterRefusesWhatTheFormatCannotHold) {
    TempDir dir;
    const std::string path = dir.File("x.DZT");
    WriteOptions options;
    options.sampleTypeGiven = true;
    options.sampleType = SampleType::kI16;
    try {
        SurveyWriter::Create(path, {Synthetic(2, 16)}, options);
        FAIL() << "i16 accepted";
    } catch (const SurveyError& e) {
        EXPECT_EQ(e.field(), "sample type");
    }
    EXPECT_THROW(SurveyWriter::Create(path, {Synthetic(2, 2)}), SurveyError);
    EXPECT_THROW(SurveyWriter::Create(path, std::vector<Acquisition>(65, Synthetic(2, 16))), SurveyError);
    // Values with fractions (an f32 file's) are refused by integer samples,
    // not rounded; 16-bit samples whose scale makes fractions as well. No
    // file is left under the name.
    Acquisition f32 = Synthetic(2, 16);
    f32.sampleType = SampleType::kF32;
    for (double fraction : {0.5, 0.25, -1e-9}) {
        std::vector<double> values(32, 7.0);
        values[20] += fraction;
        std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, {f32});
        try {
            w->WriteScans(values.data(), 2);
            FAIL() << "a fraction of " << fraction << " accepted";
        } catch (const SurveyError& e) {
            EXPECT_EQ(e.field(), "samples");
            EXPECT_NE(std::string(e.what()).find("trace 1 holds values that i32 samples cannot hold exactly"),
                      std::string::npos) << e.what();
        }
    }
    f32.scale = 1.0 / 512;
    std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, {f32});
    const std::vector<int16_t> samples(32, 3);
    EXPECT_THROW(w->WriteScans16(samples.data(), 2), SurveyError);
    w.reset();
    struct stat st;
    EXPECT_NE(::stat(path.c_str(), &st), 0);
}

// Facts that a format's reader would refuse or misread are refused before
// anything is written, in every format, by an error that names the file.
TEST(SurveyWriter, RefusesFactsNoReaderWouldTakeBack) {
    TempDir dir;
    struct Case {
        const char* fact;
        void (*set)(Acquisition&);
        const char* message;
    };
    const Case cases[] = {
        {"sample interval", [](Acquisition& a) { a.sampleIntervalNs = -1.0; }, "the value -1 ns is not positive"},
        {"sample interval", [](Acquisition& a) { a.sampleIntervalNs = NAN; }, "unknown; a file needs it"},
        {"antenna frequency", [](Acquisition& a) { a.antennaFrequencyMHz = -100.0; }, "is not positive"},
        {"antenna separation", [](Acquisition& a) { a.antennaSeparationM = INFINITY; }, "is not zero or positive"},
        {"trace spacing", [](Acquisition& a) { a.traceSpacingM = 0.0; }, "the value 0 m is not positive"},
        {"time zero", [](Acquisition& a) { a.timeZeroSample = -INFINITY; }, "the time zero sample is infinite"},
    };
    for (const char* name : {"f.DZT", "f.DT1", "f.rd3", "f.sgy"}) {
        const std::string path = dir.File(name);
        for (const Case& c : cases) {
            Acquisition a = Synthetic(2, 16);
            c.set(a);
            try {
                SurveyWriter::Create(path, {a});
                ADD_FAILURE() << name << ": " << c.message << " accepted";
            } catch (const SurveyError& e) {
                EXPECT_EQ(e.file(), path);
                EXPECT_EQ(e.field(), c.fact);
                EXPECT_NE(e.detail().find(c.message), std::string::npos) << e.what();
            }
        }
        Acquisition a = Synthetic(2, 16);
        a.antennaSeparationM = 0.0;  // a monostatic antenna
        EXPECT_NO_THROW(SurveyWriter::Create(path, {a}));
    }
    // A format's own limits are reported on the file too: a DZT states the
    // interval as a 32-bit float time range, SEG-Y as a 16-bit count.
    Acquisition a = Synthetic(2, 16);
    a.sampleIntervalNs = 1e300;
    for (const char* name : {"f.DZT", "f.sgy"}) {
        try {
            SurveyWriter::Create(dir.File(name), {a});
            ADD_FAILURE() << name;
        } catch (const SurveyError& e) {
            EXPECT_EQ(e.file(), dir.File(name));
            EXPECT_EQ(e.field(), "sample interval");
        }
    }
}

// With fitSamples16, 16-bit samples that the output type cannot hold through
// a channel's scale are written as they are: the writer tells the scale it
// used, and a reader finds the same samples again. A scale the type holds
// is kept; without a given type the format's 16-bit type is taken.
TEST(SurveyDzt, FittedSamplesKeepTheirBitsWhereTheScaleCannotBeKept) {
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<std::pair<SampleType, double>> channels;  // input type and scale
        bool typeGiven;
        SampleType type;                                     // the given type, else the one expected
        std::vector<double> scales;                          // expected per channel
    };
    const std::vector<Case> cases = {
        {"f32 fractions into DZT", {{SampleType::kF32, 1.0 / 512}}, false, SampleType::kU16, {1.0}},
        {"i32 times 64 kept in DZT", {{SampleType::kI32, 64.0}}, false, SampleType::kI32, {64.0}},
        {"one channel that does not fit", {{SampleType::kI32, 64.0}, {SampleType::kI32, 0.25}}, false,
         SampleType::kU16, {1.0, 1.0}},
        {"given i32", {{SampleType::kF32, 1.0 / 512}, {SampleType::kI32, 4.0}}, true, SampleType::kI32, {1.0, 4.0}},
        {"u8 input", {{SampleType::kU8, 1.0}}, false, SampleType::kU16, {1.0}},
        {"i32 times 2^17 beyond i32", {{SampleType::kI32, 131072.0}}, false, SampleType::kU16, {1.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File("fit.DZT");
        std::vector<Acquisition> records;
        for (size_t ch = 0; ch < c.channels.size(); ++ch) {
            Acquisition a = Synthetic(3, 16);
            a.channel = static_cast<int32_t>(ch);
            a.sampleType = c.channels[ch].first;
            a.scale = c.channels[ch].second;
            records.push_back(a);
        }
        WriteOptions options;
        options.fitSamples16 = true;
        options.sampleTypeGiven = c.typeGiven;
        options.sampleType = c.type;
        std::vector<int16_t> samples(3 * 16 * records.size());
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 2731 - 32768);
        {
            std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, records, options);
            for (size_t ch = 0; ch < records.size(); ++ch) EXPECT_EQ(w->Scale(static_cast<int32_t>(ch)), c.scales[ch]);
            EXPECT_THROW(w->Scale(static_cast<int32_t>(records.size())), SurveyError);
            w->WriteScans16(samples.data(), 3);
            w->Commit();
        }
        const std::unique_ptr<SurveyFile> f = SurveyFile::Open(path);
        EXPECT_EQ(f->layout().type, c.type);
        for (int32_t ch = 0; ch < f->channelCount(); ++ch) {
            EXPECT_EQ(f->acquisition(ch).scale, c.scales[static_cast<size_t>(ch)]);
            std::vector<double> values(3 * 16);
            f->ReadTraces(ch, 0, 3, values.data());
            // The first two words of a DZT trace are its scan counter and mark.
            for (size_t t = 0; t < 3; ++t) {
                for (size_t i = 2; i < 16; ++i) {
                    EXPECT_EQ(values[t * 16 + i], samples[(t * records.size() + static_cast<size_t>(ch)) * 16 + i] *
                                                      c.scales[static_cast<size_t>(ch)]);
                }
            }
        }
    }
    // RD3 holds i16 only: a 32-bit input's scale gives way there.
    Acquisition a = Synthetic(3, 16);
    a.sampleType = SampleType::kI32;
    a.scale = 64.0;
    WriteOptions options;
    options.fitSamples16 = true;
    EXPECT_EQ(SurveyWriter::Create(dir.File("fit.rd3"), {a}, options)->Scale(0), 1.0);
    options.fitSamples16 = false;
    EXPECT_EQ(SurveyWriter::Create(dir.File("fit.rd3"), {a}, options)->Scale(0), 64.0);
}

// A small valid file to mutate: 16-bit, one channel, 4 scans of 16 samples.
std::vector<uint8_t> SmallFile(TempDir& dir) {
    const std::string path = dir.File("small.DZT");
    std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, {Synthetic(4, 16)});
    w->WriteScans(std::vector<double>(4 * 16, 5.0).data(), 4);
    w->Commit();
    return ReadBytes(path);
}

void SetU16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

TEST(SurveyDzt, HostileFilesGiveErrorsNamingTheField) {
    TempDir dir;
    const std::vector<uint8_t> good = SmallFile(dir);
    ASSERT_EQ(good.size(), 1024u + 4 * 16 * 2);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* field;
    };
    std::vector<Case> cases;
    cases.push_back({"truncated header", std::vector<uint8_t>(good.begin(), good.begin() + 600), "header"});
    cases.push_back({"no samples", good, "rh_nsamp"});
    SetU16(cases.back().bytes, 4, 0);
    cases.push_back({"two samples", good, "rh_nsamp"});
    SetU16(cases.back().bytes, 4, 2);
    cases.push_back({"absurd samples", good, "traces"});
    SetU16(cases.back().bytes, 4, 65535);
    cases.push_back({"absurd channels", good, "rh_nchan"});
    SetU16(cases.back().bytes, 52, 60000);
    cases.push_back({"data beyond the file", good, "rh_data"});
    SetU16(cases.back().bytes, 2, 1000);
    cases.push_back({"bits", good, "rh_bits"});
    SetU16(cases.back().bytes, 6, 12);
    cases.push_back({"shorter than one scan", std::vector<uint8_t>(good.begin(), good.begin() + 1024 + 31),
                     "traces"});
    // The same whether the trace words are gathered at open or deferred.
    ReadOptions deferred;
    deferred.deferTraceWords = true;
    for (const ReadOptions& options : {ReadOptions(), deferred}) {
        SCOPED_TRACE(options.deferTraceWords ? "words deferred" : "words at open");
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const std::string path = dir.File(std::string(c.name) + ".DZT");
            WriteBytes(path, c.bytes);
            try {
                SurveyFile::Open(path, options);
                ADD_FAILURE() << "opened";
            } catch (const SurveyError& e) {
                EXPECT_EQ(e.field(), c.field) << e.what();
            }
        }
        // A partial last scan is dropped with a warning.
        const std::string partial = dir.File("partial.DZT");
        WriteBytes(partial, std::vector<uint8_t>(good.begin(), good.end() - 5));
        const std::unique_ptr<SurveyFile> p = SurveyFile::Open(partial, options);
        EXPECT_EQ(p->traceCount(), 3);
        EXPECT_TRUE(HasWarning(p->acquisition(), "partial last scan"));
    }
    // Another extension is refused unless the format is given.
    const std::string other = dir.File("renamed.bin");
    WriteBytes(other, good);
    EXPECT_THROW(SurveyFile::Open(other), SurveyError);
    ReadOptions given;
    given.formatGiven = true;
    EXPECT_EQ(SurveyFile::Open(other, given)->traceCount(), 4);
}

TEST(SurveyDzt, CompanionsGivePositionsAndSpacingOrWarnings) {
    TempDir dir;
    std::vector<uint8_t> bytes = SmallFile(dir);
    const float sps = 10.0f;
    std::memcpy(bytes.data() + 10, &sps, 4);
    std::memset(bytes.data() + 14, 0, 4);  // spm 0: spacing from the DZX
    const std::string path = dir.File("line.DZT");
    WriteBytes(path, bytes);
    const std::string dzx = dir.File("line.DZX"), dzg = dir.File("line.DZG");
    WriteText(dzx, "<DZX><GlobalProperties><unitsPerScan>0.5</unitsPerScan></GlobalProperties></DZX>");
    const auto nmea = internal::WithChecksum;
    // Scans 0 and 3 fixed; a sentence with a wrong checksum and an empty one.
    WriteText(dzg, nmea("GSSIS,0,-1") + nmea("GPGGA,000320,4739.2552,N,12218.5815,W,1,05,,100.5,M,,M,,") + "\r\n" +
                 nmea("GSSIS,1,-1") + "$GPGGA,garbage*00\r\n" + nmea("GSSIS,3,-1") +
                 "$GPGGA,000321,4739.3552,N,12218.5815,W,1,05,,103.5,M,,M,,\r\n$\r\n");
    std::unique_ptr<SurveyFile> f = SurveyFile::Open(path);
    const Acquisition& a = f->acquisition();
    EXPECT_EQ(a.traceSpacingM, 0.5);
    EXPECT_EQ(a.traceSpacingSource, "DZX");
    ASSERT_EQ(a.coordinates.size(), 4u);
    EXPECT_NEAR(a.coordinates[0].y, 47 + 39.2552 / 60, 1e-12);
    EXPECT_NEAR(a.coordinates[2].y, 47 + 39.2552 / 60 + 2.0 / 3 * 0.1 / 60, 1e-12);
    EXPECT_NEAR(a.coordinates[3].x, -(122 + 18.5815 / 60), 1e-12);
    ASSERT_EQ(a.elevationsM.size(), 4u);
    EXPECT_NEAR(a.elevationsM[1], 101.5, 1e-12);
    EXPECT_TRUE(HasWarning(a, "DZG: 2 empty or broken"));
    // Written back, the interpolated positions return exactly through the DZG the writer makes.
    const std::string copy = dir.File("copy.DZT");
    dir.File("copy.DZX"), dir.File("copy.DZG");
    {
        std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(copy, f->acquisitions());
        w->WriteScans(ChannelValues(*f, 0).data(), f->traceCount());
        w->Commit();
    }
    ExpectSameDztFacts(a, SurveyFile::Open(copy)->acquisition());
    // Garbage GPS text only warns; no DZX and spm 0 makes the file time-triggered.
    WriteText(dzg, std::string("\x01\xff") + "$GPGGA,,,,*zz\n$GSSIS,x\n");
    ::unlink(dzx.c_str());
    f = SurveyFile::Open(path);
    EXPECT_TRUE(f->acquisition().coordinates.empty());
    EXPECT_TRUE(HasWarning(f->acquisition(), "DZG"));
    EXPECT_TRUE(f->acquisition().timeTriggered);
    EXPECT_EQ(f->acquisition().traceSpacingSource, "scans per second");
}

// A long survey's GPS log, a fix for every trace, is read back whole: its
// size is bounded by the traces, not by the limit of a short text file.
TEST(SurveyDzt, LongSurveysKeepTheirGpsLog) {
    TempDir dir;
    Acquisition a = Synthetic(180000, 4);
    a.geographic = true;
    for (int64_t t = 0; t < a.traces; ++t) a.coordinates.push_back({10.0 + 1e-7 * t, 45.0 + 3e-8 * t, kUnknown});
    const std::string path = dir.File("long.DZT");
    dir.File("long.DZG");
    {
        std::unique_ptr<SurveyWriter> w = SurveyWriter::Create(path, {a});
        const std::vector<int16_t> samples(static_cast<size_t>(a.traces * a.samples), 3);
        w->WriteScans16(samples.data(), a.traces);
        w->Commit();
    }
    struct stat st;
    ASSERT_EQ(::stat(dir.File("long.DZG").c_str(), &st), 0);
    EXPECT_GT(st.st_size, 16 << 20);
    const Acquisition b = SurveyFile::Open(path)->acquisition();
    ASSERT_EQ(b.coordinates.size(), a.coordinates.size());
    EXPECT_EQ(b.coordinates.back().x, a.coordinates.back().x);
    EXPECT_FALSE(HasWarning(b, "ignored"));
}

// Writes the fuzz target's seeds when VANTIR3_DZT_SEED_DIR names a folder.
TEST(SurveyDzt, FuzzSeeds) {
    const char* dir = std::getenv("VANTIR3_DZT_SEED_DIR");
    if (dir == nullptr) GTEST_SKIP() << "VANTIR3_DZT_SEED_DIR not set";
    struct Seed {
        const char* name;
        SampleType type;
        int channels;
    };
    for (const Seed& s : {Seed{"u8_one_channel.dzt", SampleType::kU8, 1},
                          Seed{"u16_two_channels.dzt", SampleType::kU16, 2},
                          Seed{"i32_gain.dzt", SampleType::kI32, 1}}) {
        Acquisition a = Synthetic(3, 12);
        a.rangeGain = {{0, 1}, {11, 7}};
        a.marks = {{1, 0x64}};
        std::vector<Acquisition> channels(static_cast<size_t>(s.channels), a);
        for (int c = 0; c < s.channels; ++c) channels[c].channel = c;
        WriteOptions options;
        options.sampleTypeGiven = true;
        options.sampleType = s.type;
        std::unique_ptr<SurveyWriter> w =
            SurveyWriter::Create(std::string(dir) + "/" + s.name, channels, options);
        std::vector<double> v(static_cast<size_t>(3 * 12 * s.channels));
        for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<double>(i % 50) - 25;
        w->WriteScans(v.data(), 3);
        w->Commit();
    }
    // GPS text as the writer makes it, for the target's GPS reading.
    const std::vector<Coordinate> track = {{-122.3, 47.65, 10.5}, {-122.31, 47.66, 11.0}};
    WriteText(std::string(dir) + "/gps.dzg", internal::FormatScanFixes(track, {{20240229, 3599.5}}, 2));
}

}  // namespace
}  // namespace survey
}  // namespace vantir3
