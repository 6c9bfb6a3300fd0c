// Fuzz target: arbitrary bytes opened as a SEG-Y file.
//
// The bytes go to an anonymous memory file, opened through /proc/self/fd
// with the format given (the input's length picks the byte-order and
// interval-unit options, so the overrides are exercised too). A SurveyError
// is a fine answer; anything else (a crash, a sanitizer report, another
// exception) is a finding. When the file opens:
//   - the traces are read both as values and as 16-bit samples, in one
//     request and a trace at a time, and the two reads agree;
//   - the native headers hold one 240-byte header per trace;
//   - the SEG-Y writer, fed the records, gives a header of its layout's size
//     and, with the samples, a file that opens again (big-endian, no
//     options) with the same traces, samples, values (i32 ones as f32 rounds
//     them), interval and time zero.
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
#include "vantir3_survey/survey.h"

namespace {

using vantir3::survey::Acquisition;
using vantir3::survey::Format;
using vantir3::survey::ReadOptions;
using vantir3::survey::SampleType;
using vantir3::survey::SurveyError;
using vantir3::survey::SurveyFile;
namespace internal = vantir3::survey::internal;

using vantir3_fuzz::MemoryFile;

// Files whose samples would take long to walk are only opened.
constexpr int64_t kMaxValues = 1 << 20;

bool Same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// The records written as SEG-Y in memory and opened again.
void CheckRewrite(const SurveyFile& f, const std::vector<double>& values) {
    const SampleType type = internal::DefaultOutputType(Format::kSegy, f.layout().type);
    std::unique_ptr<internal::FormatWriter> w;
    std::vector<uint8_t> out;
    const int64_t traces = f.traceCount();
    try {
        w = internal::MakeSegyWriter(f.acquisitions(), type);
        out = w->FileHeader(traces);
    } catch (const SurveyError&) {
        return;  // e.g. a time zero too far out for the delay field
    }
    const vantir3::survey::TraceLayout l = w->Layout();
    FUZZ_REQUIRE(static_cast<int64_t>(out.size()) == l.dataOffset && l.samples == f.sampleCount());
    std::vector<uint8_t> record(static_cast<size_t>(l.recordBytes));
    for (int64_t k = 0; k < traces; ++k) {
        std::fill(record.begin(), record.end(), 0);
        w->TraceHeader(k, 0, record.data());
        FUZZ_REQUIRE(internal::EncodeValues(values.data() + k * l.samples, l.samples, type, true,
                                            record.data() + l.headerBytes));
        out.insert(out.end(), record.begin(), record.end());
    }
    MemoryFile again(out.data(), out.size());
    ReadOptions options;
    options.formatGiven = true;
    options.format = Format::kSegy;
    const std::unique_ptr<SurveyFile> g = SurveyFile::Open(again.path(), options);
    FUZZ_REQUIRE(g->layout().bigEndian && g->traceCount() == traces && g->sampleCount() == f.sampleCount());
    const Acquisition& a = f.acquisition();
    const Acquisition& b = g->acquisition();
    FUZZ_REQUIRE(a.sampleIntervalNs == b.sampleIntervalNs);
    FUZZ_REQUIRE(Same(a.timeZeroSample, b.timeZeroSample));
    std::vector<double> back(values.size());
    g->ReadTraces(0, 0, traces, back.data());
    // Each type holds every value of the types it is chosen for.
    for (size_t i = 0; i < back.size(); ++i) {
        const double expected = type == SampleType::kF32 ? static_cast<float>(values[i]) : values[i];
        FUZZ_REQUIRE(Same(back[i], expected));
    }
}

void Check(const SurveyFile& f) {
    const int64_t traces = f.traceCount();
    const int64_t samples = f.sampleCount();
    FUZZ_REQUIRE(traces > 0 && samples > 0 && f.channelCount() == 1);
    const Acquisition& a = f.acquisition();
    FUZZ_REQUIRE(a.native.traceHeaderBytes == 240 &&
                 a.native.traceHeaders.size() == static_cast<size_t>(traces) * 240);
    FUZZ_REQUIRE(a.sampleIntervalNs > 0.0);
    if (traces * samples > kMaxValues) return;
    std::vector<double> values(static_cast<size_t>(traces * samples)), one(static_cast<size_t>(samples));
    std::vector<int16_t> s16(values.size());
    f.ReadTraces(0, 0, traces, values.data());
    f.ReadTraces16(0, 0, traces, s16.data());
    for (int64_t k = 0; k < traces; ++k) {
        f.ReadTraces(0, k, 1, one.data());
        for (int64_t i = 0; i < samples; ++i) FUZZ_REQUIRE(Same(one[i], values[k * samples + i]));
    }
    CheckRewrite(f, values);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryFile file(data, size);
    ReadOptions options;
    options.formatGiven = true;
    options.format = Format::kSegy;
    options.segyEndian = static_cast<ReadOptions::Endian>(size % 3);
    options.segyIntervalUnit = static_cast<ReadOptions::TimeUnit>(size / 3 % 4);
    try {
        const std::unique_ptr<SurveyFile> f = SurveyFile::Open(file.path(), options);
        vantir3_fuzz::CheckTraceTimes(*f);
        Check(*f);
    } catch (const SurveyError&) {
    }
    return 0;
}
