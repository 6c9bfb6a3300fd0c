// Opening a survey file: the format's parser reads the headers, then the
// generic part checks the layout against the file size, chooses the scale
// of wide samples and reads traces on request.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <cmath>
#include <cstring>
#include <vector>

#include "vantir3_survey/format_io.h"
#include "vantir3_survey/text_header.h"

namespace vantir3 {
namespace survey {

namespace {

using internal::InputFile;

// Bytes read per positioned read when a request spans many traces.
constexpr int64_t kChunkBytes = 8 << 20;

internal::Parsed Parse(const InputFile& file, Format format, const ReadOptions& options) {
    switch (format) {
        case Format::kDzt: return internal::ParseDzt(file, options);
        case Format::kDt1: return internal::ParseDt1(file, options);
        case Format::kRd3:
        case Format::kRd7: return internal::ParseRd3(file, options);
        case Format::kSegy: return internal::ParseSegy(file, options);
    }
    file.Fail("", "unknown format");
}

void CheckLayout(const InputFile& file, const internal::Parsed& p) {
    const TraceLayout& l = p.layout;
    if (p.channels.empty()) file.Fail("channels", "the file describes no channel");
    if (l.samples <= 0) file.Fail("samples", "the file has no samples per trace");
    if (l.channels != static_cast<int32_t>(p.channels.size()) || l.channels <= 0) {
        file.Fail("channels", "channel count does not match the channel records");
    }
    const int64_t sampleBytes = int64_t{l.samples} * SampleTypeBytes(l.type);
    if (l.headerBytes < 0 || l.recordBytes < l.headerBytes + sampleBytes) {
        file.Fail("trace size", "a trace record is smaller than its samples");
    }
    if (l.skipWords < 0 || l.skipWords >= l.samples) file.Fail("samples", "no radar samples in a trace");
    const int64_t traces = p.channels.front().traces;
    if (traces <= 0) file.Fail("traces", "the file holds no complete trace");
    if (l.dataOffset < 0 || l.dataOffset > file.size()) {
        file.Fail("data offset", "data offset lies beyond the end of the file", l.dataOffset);
    }
    const int64_t scanBytes = l.recordBytes * l.channels;
    if (traces > (file.size() - l.dataOffset) / scanBytes) {
        file.Fail("traces", std::to_string(traces) + " traces do not fit in the file's " +
                                std::to_string(file.size() - l.dataOffset) + " data bytes",
                  l.dataOffset);
    }
    for (const Acquisition& a : p.channels) {
        if (a.traces != traces || a.samples != l.samples) {
            file.Fail("channels", "channels differ in traces or samples");
        }
    }
}

}  // namespace

SurveyFile::SurveyFile(std::string path, int fd, int64_t size, std::vector<Acquisition> channels,
                       TraceLayout layout)
    : path_(std::move(path)), fd_(fd), size_(size), channels_(std::move(channels)), layout_(layout) {}

SurveyFile::~SurveyFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<SurveyFile> SurveyFile::Open(const std::string& path, const ReadOptions& options) {
    // A fact the caller gives replaces the file's: it must be one a survey
    // can have.
    internal::CheckFact(path, options.sampleIntervalNs, false, false, "sample interval", "ns");
    internal::CheckFact(path, options.antennaFrequencyMHz, false, false, "antenna frequency", "MHz");
    internal::CheckFact(path, options.antennaSeparationM, true, false, "antenna separation", "m");
    internal::CheckFact(path, options.traceSpacingM, false, false, "trace spacing", "m");
    // (A missing file or a folder is said so before its name is read for a format.)
    InputFile file(path);
    const Format format = options.formatGiven ? options.format : FormatFromPath(path);
    internal::Parsed parsed = Parse(file, format, options);
    CheckLayout(file, parsed);
    for (Acquisition& a : parsed.channels) {
        // A fact the file states as a value no survey has is unknown (the
        // caller may give it), so that no reader hands a writer a record it
        // must refuse.
        auto unusable = [&a](double& v, bool zeroAllowed, const char* fact, const char* unit) {
            if (std::isnan(v) || internal::UsableFact(v, zeroAllowed)) return false;
            a.warnings.push_back(std::string("the file's ") + fact + " " + internal::FormatNumber(v) + " " + unit +
                                 " is not usable: the " + fact + " is unknown");
            v = kUnknown;
            return true;
        };
        unusable(a.antennaFrequencyMHz, false, "antenna frequency", "MHz");
        unusable(a.antennaSeparationM, true, "antenna separation", "m");
        if (unusable(a.traceSpacingM, false, "trace spacing", "m")) a.traceSpacingSource.clear();
        a.format = format;
        a.channelCount = parsed.layout.channels;
        a.sampleType = parsed.layout.type;
        if (!std::isnan(options.sampleIntervalNs)) {
            a.sampleIntervalNs = options.sampleIntervalNs;
            a.sampleIntervalSource = "given by the caller";
        }
        if (!std::isnan(options.antennaFrequencyMHz)) a.antennaFrequencyMHz = options.antennaFrequencyMHz;
        if (!std::isnan(options.antennaSeparationM)) a.antennaSeparationM = options.antennaSeparationM;
        if (!std::isnan(options.traceSpacingM)) {
            a.traceSpacingM = options.traceSpacingM;
            a.timeTriggered = false;
            a.traceSpacingSource = "given by the caller";
        }
        if (!internal::UsableFact(a.sampleIntervalNs, false)) file.Fail("sample interval", "no positive sample interval");
    }
    const int64_t size = file.size();
    std::unique_ptr<SurveyFile> survey(
        new SurveyFile(path, file.Release(), size, std::move(parsed.channels), parsed.layout));
    // Wide samples reach the library through a power-of-two scale chosen
    // from each channel's largest magnitude.
    const SampleType type = survey->layout_.type;
    if (type != SampleType::kI16 && type != SampleType::kU16) {
        const int64_t samples = survey->layout_.samples;
        const int64_t perRead =
            std::min(survey->traceCount(), std::max<int64_t>(1, kChunkBytes / (samples * 8)));
        std::vector<double> values(static_cast<size_t>(perRead * samples));
        for (Acquisition& a : survey->channels_) {
            double maxAbs = 0.0;
            int64_t nonFinite = 0;
            for (int64_t t = 0; t < a.traces; t += perRead) {
                const int64_t n = std::min(perRead, a.traces - t);
                survey->ReadTraces(a.channel, t, n, values.data());
                for (int64_t k = 0; k < n; ++k) {
                    const double* v = values.data() + k * samples;
                    for (int64_t i = survey->layout_.skipWords; i < samples; ++i) {
                        if (!std::isfinite(v[i])) { ++nonFinite; continue; }
                        maxAbs = std::max(maxAbs, std::fabs(v[i]));
                    }
                }
            }
            a.scale = internal::ChooseScale(type, maxAbs);
            if (nonFinite > 0) {
                a.warnings.push_back(std::to_string(nonFinite) +
                                     " samples are not finite numbers; they reach the library as 0");
            }
        }
    }
    return survey;
}

const Acquisition& SurveyFile::acquisition(int32_t channel) const {
    if (channel < 0 || channel >= channelCount()) {
        throw SurveyError(path_, "channel", "channel " + std::to_string(channel) +
                                                " does not exist (the file has " +
                                                std::to_string(channelCount()) + ", numbered from 0)");
    }
    return channels_[static_cast<size_t>(channel)];
}

void SurveyFile::ReadAt(int64_t offset, void* out, int64_t bytes, const char* what) const {
    internal::ReadFully(fd_, size_, path_, what, offset, out, bytes);
}

void SurveyFile::CheckRange(int32_t channel, int64_t first, int64_t count) const {
    acquisition(channel);
    if (first < 0 || count < 0 || first > traceCount() || count > traceCount() - first) {
        throw SurveyError(path_, "traces", "traces " + std::to_string(first) + " + " +
                                               std::to_string(count) + " outside 0 .. " +
                                               std::to_string(traceCount() - 1));
    }
}

namespace {

// Walks the trace records of [first, first + count) of one channel through
// bounded reads, handing each trace's sample bytes to fn(k, bytes).
template <typename Fn>
void WalkTraces(const TraceLayout& l, int32_t channel, int64_t first,
                int64_t count, Fn fn, const std::function<void(int64_t, void*, int64_t)>& read) {
    const int64_t scanBytes = l.recordBytes * l.channels;
    const int64_t perRead = std::max<int64_t>(1, kChunkBytes / scanBytes);
    std::vector<uint8_t> buf(static_cast<size_t>(std::min(perRead, std::max<int64_t>(count, 1)) * scanBytes));
    for (int64_t k = 0; k < count; k += perRead) {
        const int64_t n = std::min(perRead, count - k);
        // The last record needs only its own channel's samples.
        const int64_t bytes = (n - 1) * scanBytes + (channel + 1) * l.recordBytes;
        read(l.dataOffset + (first + k) * scanBytes, buf.data(), bytes);
        for (int64_t j = 0; j < n; ++j) {
            fn(k + j, buf.data() + j * scanBytes + channel * l.recordBytes + l.headerBytes);
        }
    }
}

}  // namespace

void SurveyFile::ReadTraces16(int32_t channel, int64_t first, int64_t count, int16_t* out) const {
    ReadTraces16(channel, first, count, out, nullptr);
}

int64_t SurveyFile::TraceWordBytes() const { return int64_t{layout_.skipWords} * SampleTypeBytes(layout_.type); }

void SurveyFile::ReadTraces16(int32_t channel, int64_t first, int64_t count, int16_t* out, uint8_t* words) const {
    CheckRange(channel, first, count);
    if (count == 0) return;
    const TraceLayout& l = layout_;
    const int64_t samples = l.samples;
    const size_t wordBytes = static_cast<size_t>(TraceWordBytes());
    const double scale = channels_[static_cast<size_t>(channel)].scale;
    const bool plain16 = (l.type == SampleType::kI16 || l.type == SampleType::kU16) && !l.bigEndian &&
                         l.channels == 1 && l.headerBytes == 0 && l.recordBytes == 2 * samples;
    auto fixWords = [&](int16_t* trace) {
        for (int32_t i = 0; i < l.skipWords; ++i) trace[i] = trace[l.skipWords];
    };
    if (plain16) {
        // The traces are one contiguous run of 16-bit samples: read them
        // straight into the output and convert in place, trace by trace
        // while each is in the processor's cache.
        ReadAt(l.dataOffset + first * l.recordBytes, out, count * l.recordBytes, "samples");
        const uint16_t flip = l.type == SampleType::kU16 ? 0x8000u : 0u;
        for (int64_t k = 0; k < count; ++k) {
            int16_t* trace = out + k * samples;
            if (words != nullptr) std::memcpy(words + static_cast<size_t>(k) * wordBytes, trace, wordBytes);
            if (flip != 0) {
                uint16_t* p = reinterpret_cast<uint16_t*>(trace);
                for (int64_t i = 0; i < samples; ++i) p[i] ^= flip;
            }
            fixWords(trace);
        }
        return;
    }
    WalkTraces(l, channel, first, count,
               [&](int64_t k, const uint8_t* bytes) {
                   int16_t* trace = out + k * samples;
                   if (words != nullptr) std::memcpy(words + static_cast<size_t>(k) * wordBytes, bytes, wordBytes);
                   internal::DecodeSamples16(bytes, samples, l.type, l.bigEndian, scale, trace);
                   fixWords(trace);
               },
               [&](int64_t off, void* buf, int64_t bytes) { ReadAt(off, buf, bytes, "samples"); });
}

void SurveyFile::ReadTraces(int32_t channel, int64_t first, int64_t count, double* out) const {
    CheckRange(channel, first, count);
    if (count == 0) return;
    const TraceLayout& l = layout_;
    WalkTraces(l, channel, first, count,
               [&](int64_t k, const uint8_t* bytes) {
                   internal::DecodeValues(bytes, l.samples, l.type, l.bigEndian, out + k * l.samples);
               },
               [&](int64_t off, void* buf, int64_t bytes) { ReadAt(off, buf, bytes, "samples"); });
}

SurveyData ReadSurvey16(const std::string& path, int32_t channel, const ReadOptions& options) {
    std::unique_ptr<SurveyFile> f = SurveyFile::Open(path, options);
    SurveyData d;
    d.acquisition = f->acquisition(channel);
    d.samples16.resize(static_cast<size_t>(f->traceCount() * f->sampleCount()));
    f->ReadTraces16(channel, 0, f->traceCount(), d.samples16.data());
    return d;
}

}  // namespace survey
}  // namespace vantir3
