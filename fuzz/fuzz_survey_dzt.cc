// Fuzz target: arbitrary bytes opened as a DZT file.
//
// The bytes go to an anonymous memory file, opened through /proc/self/fd
// with the format given. A SurveyError is a fine answer; anything else (a
// crash, a sanitizer report, another exception) is a finding. When the file
// opens:
//   - every channel's traces are read both as values and as 16-bit samples,
//     in one request and a trace at a time, and the two agree;
//   - the 16-bit view holds no non-radar words (they equal sample 2);
//   - the native trace words hold exactly two words per trace;
//   - a DZT writer built from the records gives a header of its layout's
//     size and patches the words of every trace in place.
// The same bytes are also read as the text of a GPS companion (a .DZG, or
// a DT1's .GPS with its trace lines): the positions found are in range for
// every trace, and written as NMEA and read again they come back (to 1e-12
// degrees, elevations exactly).
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "vantir3_survey/format_io.h"
#include "vantir3_survey/nmea.h"
#include "vantir3_survey/survey.h"

namespace {

using vantir3::survey::Acquisition;
using vantir3::survey::SurveyError;
using vantir3::survey::SurveyFile;

using vantir3_fuzz::MemoryFile;

// Files whose samples would take long to walk are only opened.
constexpr int64_t kMaxValues = 1 << 20;

void Check(const SurveyFile& f) {
    const int64_t traces = f.traceCount();
    const int64_t samples = f.sampleCount();
    FUZZ_REQUIRE(traces > 0 && samples > 2);
    if (traces * samples > kMaxValues) return;
    std::vector<double> values(static_cast<size_t>(traces * samples)), one(static_cast<size_t>(samples));
    std::vector<int16_t> s16(values.size());
    for (int32_t c = 0; c < f.channelCount(); ++c) {
        const Acquisition& a = f.acquisition(c);
        FUZZ_REQUIRE(a.traces == traces && a.samples == samples);
        FUZZ_REQUIRE(a.native.traceHeaders.size() ==
                     static_cast<size_t>(traces * 2 * vantir3::survey::SampleTypeBytes(a.sampleType)));
        f.ReadTraces(c, 0, traces, values.data());
        std::vector<uint8_t> words(a.native.traceHeaders.size());
        f.ReadTraces16(c, 0, traces, s16.data(), words.data());
        FUZZ_REQUIRE(words == a.native.traceHeaders);
        for (int64_t k = 0; k < traces; ++k) {
            f.ReadTraces(c, k, 1, one.data());
            for (int64_t i = 0; i < samples; ++i) FUZZ_REQUIRE(one[i] == values[k * samples + i]);
            const int16_t* t = s16.data() + k * samples;
            FUZZ_REQUIRE(t[0] == t[2] && t[1] == t[2]);
        }
    }
    std::unique_ptr<vantir3::survey::internal::FormatWriter> w;
    try {
        w = vantir3::survey::internal::MakeDztWriter(f.acquisitions(), f.layout().type);
    } catch (const SurveyError&) {
        return;  // more channels than a written file holds
    }
    const vantir3::survey::TraceLayout l = w->Layout();
    FUZZ_REQUIRE(l.samples == samples && l.channels == f.channelCount());
    FUZZ_REQUIRE(static_cast<int64_t>(w->FileHeader(traces).size()) == l.dataOffset);
    std::vector<uint8_t> record(static_cast<size_t>(l.recordBytes));
    const int64_t wordBytes = f.TraceWordBytes();
    for (int64_t k = 0; k < traces; ++k) {
        for (int32_t c = 0; c < l.channels; ++c) {
            // The recorded words given with the samples, or taken from the record.
            const uint8_t* recorded = f.acquisition(c).native.traceHeaders.data() + k * wordBytes;
            w->PatchSamples(k, c, record.data(), k % 2 == 0 ? recorded : nullptr);
        }
    }
    w->Companions(traces);
}

bool Close(double a, double b, double tolerance) {
    return (std::isnan(a) && std::isnan(b)) || std::fabs(a - b) <= tolerance;
}

void CheckGps(const uint8_t* data, size_t size) {
    namespace internal = vantir3::survey::internal;
    const int64_t traces = 1 + static_cast<int64_t>(size % 61);
    const internal::GpsTrack track =
        internal::ParseScanFixes(std::string(reinterpret_cast<const char*>(data), size), traces);
    if (track.coordinates.empty()) return;
    FUZZ_REQUIRE(static_cast<int64_t>(track.coordinates.size()) == traces);
    for (const vantir3::survey::Coordinate& c : track.coordinates) {
        FUZZ_REQUIRE(std::fabs(c.x) <= 180.0 && std::fabs(c.y) <= 90.0);
        FUZZ_REQUIRE(track.hasElevation == !std::isnan(c.z));
    }
    FUZZ_REQUIRE(track.times.empty() || static_cast<int64_t>(track.times.size()) == traces);
    const internal::GpsTrack back =
        internal::ParseScanFixes(internal::FormatScanFixes(track.coordinates, track.times, traces), traces);
    FUZZ_REQUIRE(back.coordinates.size() == track.coordinates.size());
    // Times return exactly: dates, and seconds to the microsecond.
    FUZZ_REQUIRE(back.times.size() == track.times.size());
    for (size_t t = 0; t < back.times.size(); ++t) {
        FUZZ_REQUIRE(back.times[t].date == track.times[t].date);
        FUZZ_REQUIRE(Close(back.times[t].secondOfDay, track.times[t].secondOfDay, 0.0));
    }
    for (size_t t = 0; t < back.coordinates.size(); ++t) {
        FUZZ_REQUIRE(Close(back.coordinates[t].x, track.coordinates[t].x, 1e-12));
        FUZZ_REQUIRE(Close(back.coordinates[t].y, track.coordinates[t].y, 1e-12));
        FUZZ_REQUIRE(Close(back.coordinates[t].z, track.coordinates[t].z, 0.0));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vantir3::survey::ReadOptions options;
    options.formatGiven = true;
    options.format = vantir3::survey::Format::kDzt;
    try {
        const MemoryFile file(data, size);
        const std::unique_ptr<SurveyFile> f = SurveyFile::Open(file.path(), options);
        vantir3_fuzz::CheckTraceTimes(*f);
        Check(*f);
    } catch (const SurveyError&) {
    }
    CheckGps(data, size);
    return 0;
}
