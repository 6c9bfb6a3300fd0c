// DZT files: one 1024-byte header block per channel (at the start of a
// header area that newer units make 128 KiB long), then scans of
// channel-interleaved traces. The first two samples of every trace are a
// scan counter and a mark word, not radar data. Companions: a .DZX XML file
// (trace spacing when the header has none) and a .DZG NMEA file (positions).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "vantir3_survey/format_io.h"
#include "vantir3_survey/nmea.h"
#include "vantir3_survey/text_header.h"
#include "vantir3_survey/trace_time.h"

namespace vantir3 {
namespace survey {
namespace internal {

namespace {

constexpr int64_t kBlockBytes = 1024;
// Bytes per positioned read when the trace words are gathered at open: the
// whole file passes through this buffer, which stays in the processor's
// cache at this size.
constexpr int64_t kChunkBytes = 256 << 10;
// Written range-gain tables sit in the info area of their channel's block,
// addressed by a 16-bit file offset: that bounds the channels a written file has.
constexpr int32_t kMaxWriteChannels = 64;

// Field offsets within a header block.
constexpr int64_t kTagAt = 0, kDataAt = 2, kNsampAt = 4, kBitsAt = 6, kSpsAt = 10, kSpmAt = 14,
                  kPositionAt = 22, kRangeAt = 26, kRgainAt = 40, kNrgainAt = 42, kNchanAt = 52,
                  kCreatedAt = 32, kDtypeAt = 97, kAntennaAt = 98, kAntennaBytes = 14, kInfoAt = 128;
// The last bytes of a block hold GPS records; a written gain table stays clear of them.
constexpr int64_t kInfoEnd = kBlockBytes - 18;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
float GetF32(const uint8_t* p) {
    const uint32_t u = Get32(p);
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}
void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}
void PutF32(uint8_t* p, double v) {
    const float f = static_cast<float>(v);
    uint32_t u;
    std::memcpy(&u, &f, 4);
    Put32(p, u);
}

// The fields of one header block that this library uses.
struct Block {
    uint16_t data, nsamp, bits, rgain, nrgain, nchan;
    float sps, spm, position, range;
    std::string antenna;
};

Block ReadBlock(const uint8_t* b) {
    Block h;
    h.data = Get16(b + kDataAt);
    h.nsamp = Get16(b + kNsampAt);
    h.bits = Get16(b + kBitsAt);
    h.sps = GetF32(b + kSpsAt);
    h.spm = GetF32(b + kSpmAt);
    h.position = GetF32(b + kPositionAt);
    h.range = GetF32(b + kRangeAt);
    h.rgain = Get16(b + kRgainAt);
    h.nrgain = Get16(b + kNrgainAt);
    h.nchan = Get16(b + kNchanAt);
    const char* name = reinterpret_cast<const char*>(b + kAntennaAt);
    h.antenna = Trim(std::string(name, strnlen(name, kAntennaBytes)));
    return h;
}

bool TypeOfBits(int bits, SampleType& type) {
    switch (bits) {
        case 8: type = SampleType::kU8; return true;
        case 16: type = SampleType::kU16; return true;
        case 32: type = SampleType::kI32; return true;
        default: return false;
    }
}

// Equal, or both unknown.
bool Same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// The text of the first <name> element, or "".
std::string XmlElement(const std::string& xml, const std::string& name) {
    const std::string open = "<" + name;
    for (size_t at = xml.find(open); at != std::string::npos; at = xml.find(open, at + 1)) {
        const size_t after = at + open.size();
        if (after >= xml.size() || (xml[after] != '>' && xml[after] != ' ')) continue;
        const size_t begin = xml.find('>', after);
        if (begin == std::string::npos) return "";
        const size_t end = xml.find("</" + name, begin);
        return end == std::string::npos ? "" : Trim(xml.substr(begin + 1, end - begin - 1));
    }
    return "";
}

struct Spacing {
    double spacingM = kUnknown;
    bool timeTriggered = false;
    double intervalS = kUnknown;
    std::string source;
};

// Trace spacing from the header's scans per metre, else the DZX's, else
// time-triggered at the header's scans per second. The writer derives it
// the same way to tell whether a header must change.
Spacing DeriveSpacing(float spm, float sps, const std::string& dzx) {
    Spacing s;
    if (spm > 0.0f && std::isfinite(spm)) {
        s.spacingM = 1.0 / spm;
        s.source = "scans per metre";
        return s;
    }
    if (!dzx.empty()) {
        const double perMetre = ParseNumber(XmlElement(dzx, "scanPerMeters"));
        double perScan = ParseNumber(XmlElement(dzx, "unitsPerScan"));
        const std::string unit = XmlElement(dzx, "horizontalUnit");
        if (unit == "ft") perScan *= 0.3048;
        else if (unit == "cm") perScan /= 100.0;
        else if (!unit.empty() && unit != "m") perScan = kUnknown;
        if (perMetre > 0.0 || perScan > 0.0) {
            s.spacingM = perMetre > 0.0 ? 1.0 / perMetre : perScan;
            s.source = "DZX";
            return s;
        }
    }
    if (sps > 0.0f && std::isfinite(sps)) {
        s.timeTriggered = true;
        s.intervalS = 1.0 / sps;
        s.source = "scans per second";
    }
    return s;
}

bool SameSpacing(const Spacing& s, const Acquisition& a) {
    return Same(s.spacingM, a.traceSpacingM) && s.timeTriggered == a.timeTriggered &&
           Same(s.intervalS, a.traceIntervalS);
}

// The leading digits of a name as a number; NaN when it starts with none.
double LeadingDigits(const std::string& text) {
    double v = 0.0;
    size_t i = 0;
    for (; i < text.size() && i < 9 && text[i] >= '0' && text[i] <= '9'; ++i) v = v * 10.0 + (text[i] - '0');
    return i == 0 ? kUnknown : v;
}

// Centre frequency of a named antenna. known: the name is in the table of
// known antennas or of the form "<digits>MHz". Multi-frequency names
// ("300/800D") give channel c the c-th frequency.
double AntennaFrequency(const std::string& name, int32_t channel, bool& known) {
    static const struct {
        const char* name;
        double mhz;
    } kKnown[] = {{"400MHz", 400}, {"5106", 200},   {"5103", 400},   {"3101", 900},
                  {"50400S", 400}, {"51600", 1600}, {"62000", 2000}, {"52600", 2600}};
    known = true;
    for (const auto& k : kKnown) {
        if (name == k.name) return k.mhz;
    }
    const double digits = LeadingDigits(name);
    if (!std::isnan(digits) && name.size() > 3 && name.compare(name.size() - 3, 3, "MHz") == 0 &&
        name.find_first_not_of("0123456789") == name.size() - 3) {
        return digits;
    }
    known = false;
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t slash = name.find('/', start);
        parts.push_back(name.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return LeadingDigits(parts[std::min<size_t>(static_cast<size_t>(channel), parts.size() - 1)]);
}

// The range-gain table a block points to: a u16 count N, then N f32 gains
// in dB at evenly spaced samples. A table that does not fit is a warning.
std::vector<RangeGainPoint> ReadRangeGain(const InputFile& file, const Block& b, int32_t samples,
                                          std::vector<std::string>& warnings) {
    std::vector<RangeGainPoint> points;
    if (b.rgain == 0 && b.nrgain == 0) return points;
    const std::string where = "rh_rgain/rh_nrgain: the range-gain table at byte " + std::to_string(b.rgain) +
                              " (" + std::to_string(b.nrgain) + " bytes) ";
    if (b.nrgain < 6 || b.rgain + int64_t{b.nrgain} > file.size()) {
        warnings.push_back(where + "does not fit in the file; ignored");
        return points;
    }
    const std::vector<uint8_t> t = file.ReadBytes(b.rgain, b.nrgain, "rh_rgain");
    const int64_t n = Get16(t.data());
    if (n == 0 || 2 + 4 * n > b.nrgain) {
        warnings.push_back(where + "holds " + std::to_string(n) + " gains, which it cannot; ignored");
        return points;
    }
    for (int64_t j = 0; j < n; ++j) {
        const double gain = GetF32(t.data() + 2 + 4 * j);
        if (!std::isfinite(gain)) {
            warnings.push_back(where + "holds a gain that is not a number; ignored");
            return {};
        }
        const double at = n == 1 ? 0.0 : static_cast<double>(j) * (samples - 1) / static_cast<double>(n - 1);
        points.push_back({at, gain});
    }
    return points;
}

// The two leading words of every trace, kept per channel as native trace
// headers, with the non-zero mark words as marks. Read in bounded chunks: the
// whole file passes through, so a large one is read by up to `threads`
// threads, each over its own run of scans.
void ReadTraceWords(const InputFile& file, const TraceLayout& l, int64_t scans, int threads,
                    std::vector<Acquisition>& channels) {
    const int bytes = SampleTypeBytes(l.type);
    const int64_t wordBytes = 2 * bytes;
    const int64_t scanBytes = l.recordBytes * l.channels;
    const bool wholeScans = scanBytes <= kChunkBytes;
    const int64_t perRead = wholeScans ? kChunkBytes / scanBytes : 1;
    for (Acquisition& a : channels) a.native.traceHeaders.resize(static_cast<size_t>(scans * wordBytes));
    // Scans [begin, end): the words into place, the marks into marks[channel].
    auto readRun = [&](int64_t begin, int64_t end, std::vector<std::vector<Mark>>& marks) {
        // Filled by the reads: no zeroing first.
        const std::unique_ptr<uint8_t[]> buf(
            new uint8_t[static_cast<size_t>(wholeScans ? std::min(perRead, end - begin) * scanBytes : wordBytes)]);
        for (int64_t k = begin; k < end; k += perRead) {
            const int64_t n = std::min(perRead, end - k);
            if (wholeScans) file.ReadAt(l.dataOffset + k * scanBytes, buf.get(), n * scanBytes, "samples");
            for (int64_t j = 0; j < n; ++j) {
                for (size_t c = 0; c < channels.size(); ++c) {
                    Acquisition& a = channels[c];
                    const int64_t at = j * scanBytes + a.channel * l.recordBytes;
                    if (!wholeScans) file.ReadAt(l.dataOffset + k * scanBytes + at, buf.get(), wordBytes, "samples");
                    const uint8_t* w = buf.get() + (wholeScans ? at : 0);
                    std::memcpy(a.native.traceHeaders.data() + (k + j) * wordBytes, w, static_cast<size_t>(wordBytes));
                    const int32_t mark = bytes == 1   ? w[1]
                                         : bytes == 2 ? Get16(w + 2)
                                                      : static_cast<int32_t>(Get32(w + 4));
                    if (mark != 0) marks[c].push_back({k + j, mark});
                }
            }
        }
    };
    // Each run at least 64 reads long: a small file is read by this thread.
    const int64_t runs = std::max<int64_t>(1, std::min<int64_t>(threads, scans / (64 * perRead)));
    std::vector<std::vector<std::vector<Mark>>> marks(static_cast<size_t>(runs),
                                                      std::vector<std::vector<Mark>>(channels.size()));
    std::vector<std::exception_ptr> errors(static_cast<size_t>(runs));
    std::vector<std::thread> helpers;
    for (int64_t r = runs - 1; r >= 0; --r) {
        auto run = [&, r] {
            try {
                readRun(scans * r / runs, scans * (r + 1) / runs, marks[static_cast<size_t>(r)]);
            } catch (...) {
                errors[static_cast<size_t>(r)] = std::current_exception();
            }
        };
        if (r == 0) {
            run();
            break;
        }
        try {
            helpers.emplace_back(run);
        } catch (const std::system_error&) {
            run();  // no thread to be had: this one reads the run
        }
    }
    for (std::thread& t : helpers) t.join();
    for (const std::exception_ptr& e : errors) {
        if (e) std::rethrow_exception(e);
    }
    for (const std::vector<std::vector<Mark>>& run : marks) {
        for (size_t c = 0; c < channels.size(); ++c) {
            channels[c].marks.insert(channels[c].marks.end(), run[c].begin(), run[c].end());
        }
    }
}

}  // namespace

Parsed ParseDzt(const InputFile& file, const ReadOptions& options) {
    if (file.size() < kBlockBytes) {
        file.Fail("header", "the file (" + std::to_string(file.size()) +
                                " bytes) is shorter than one 1024-byte header block", 0);
    }
    const std::vector<uint8_t> first = file.ReadBytes(0, kBlockBytes, "header");
    const Block h = ReadBlock(first.data());
    const int32_t nchan = h.nchan == 0 ? 1 : h.nchan;
    const int64_t blocksBytes = kBlockBytes * nchan;
    if (blocksBytes > file.size()) {
        file.Fail("rh_nchan", std::to_string(nchan) + " channels need " + std::to_string(blocksBytes) +
                                  " header bytes; the file has " + std::to_string(file.size()), kNchanAt);
    }
    // rh_data below 1024 counts kilobytes of header; otherwise the data
    // follow the channels' header blocks.
    const int64_t dataOffset = (h.data >= 1 && h.data < 1024) ? h.data * kBlockBytes : blocksBytes;
    if (dataOffset < blocksBytes) {
        file.Fail("rh_data", "data offset " + std::to_string(dataOffset) + " lies inside the " +
                                 std::to_string(nchan) + " channel header blocks", kDataAt);
    }
    if (dataOffset > file.size()) {
        file.Fail("rh_data", "data offset " + std::to_string(dataOffset) + " lies beyond the end of the file (" +
                                 std::to_string(file.size()) + " bytes)", kDataAt);
    }
    TraceLayout l;
    if (!TypeOfBits(h.bits, l.type)) {
        file.Fail("rh_bits", std::to_string(h.bits) + " bits per sample (8, 16 or 32 expected)", kBitsAt);
    }
    if (h.nsamp <= 2) {
        file.Fail("rh_nsamp", h.nsamp == 0 ? std::string("no samples per trace")
                                           : std::to_string(h.nsamp) +
                                                 " samples per trace leave no radar sample after the "
                                                 "scan counter and mark word", kNsampAt);
    }
    l.dataOffset = dataOffset;
    l.samples = h.nsamp;
    l.recordBytes = int64_t{h.nsamp} * SampleTypeBytes(l.type);
    l.headerBytes = 0;
    l.channels = nchan;
    l.skipWords = 2;
    const int64_t scanBytes = l.recordBytes * nchan;
    const int64_t dataBytes = file.size() - dataOffset;
    const int64_t scans = dataBytes / scanBytes;
    if (scans == 0) {
        file.Fail("traces", "the file holds no complete scan: " + std::to_string(dataBytes) +
                                " data bytes, one scan of " + std::to_string(nchan) + " x " +
                                std::to_string(h.nsamp) + " samples takes " + std::to_string(scanBytes),
                  dataOffset);
    }

    std::vector<std::string> warnings;
    if (dataBytes % scanBytes != 0) {
        warnings.push_back("a partial last scan of " + std::to_string(dataBytes % scanBytes) +
                           " bytes is dropped");
    }
    const std::vector<uint8_t> header = file.ReadBytes(0, dataOffset, "header");
    const std::string dzx = ReadCompanion(file.path(), ".DZX", warnings);
    const Spacing spacing = DeriveSpacing(h.spm, h.sps, dzx);
    if (spacing.source.empty()) {
        warnings.push_back("neither scans per metre nor scans per second is recorded: trace spacing unknown");
    }
    const GpsTrack gps = ReadGpsLog(file.path(), ".DZG", scans, warnings);

    Parsed p;
    p.layout = l;
    for (int32_t c = 0; c < nchan; ++c) {
        const Block b = ReadBlock(header.data() + c * kBlockBytes);
        Acquisition a;
        a.channel = c;
        a.traces = scans;
        a.samples = h.nsamp;
        a.warnings = warnings;
        // Time window and position are per channel; a channel block without
        // a usable window takes the first block's.
        const Block& t = (b.range > 0.0f && std::isfinite(b.range)) ? b : h;
        const bool window = t.range > 0.0f && std::isfinite(t.range);
        a.sampleIntervalNs = window ? t.range / static_cast<double>(h.nsamp) : kUnknown;
        a.sampleIntervalSource = "range / samples";
        if (std::isnan(a.sampleIntervalNs)) {
            a.warnings.push_back("rhf_range does not give a positive time window: sample interval unknown");
        } else {
            a.timeWindowNs = t.range;
        }
        a.firstSampleTimeNs = std::isfinite(t.position) ? t.position : 0.0;
        a.timeZeroSample = a.sampleIntervalNs > 0.0 ? 1.0 - a.firstSampleTimeNs / a.sampleIntervalNs : 1.0;
        a.traceSpacingM = spacing.spacingM;
        a.timeTriggered = spacing.timeTriggered;
        a.traceIntervalS = spacing.intervalS;
        a.traceSpacingSource = spacing.source;
        a.antennaName = b.antenna;
        bool known = false;
        a.antennaFrequencyMHz = AntennaFrequency(b.antenna, c, known);
        if (!known) {
            a.warnings.push_back("antenna \"" + b.antenna + "\" is not a known antenna: " +
                                 (std::isnan(a.antennaFrequencyMHz)
                                      ? std::string("frequency unknown")
                                      : "frequency " + std::to_string(static_cast<int64_t>(a.antennaFrequencyMHz)) +
                                            " MHz taken from its name"));
        }
        a.antennaSeparationM = kUnknown;
        a.warnings.push_back("a DZT file does not record the antenna separation");
        a.rangeGain = ReadRangeGain(file, b, h.nsamp, a.warnings);
        ApplyGpsTrack(gps, a);
        a.native.format = Format::kDzt;
        a.native.traceHeaderBytes = 2 * SampleTypeBytes(l.type);  // the scan counter and mark word
        if (c == 0) {
            // File-wide bytes, kept once: a copy per channel would multiply
            // the header (up to 1 MiB) and the DZX text by the channel count.
            a.native.fileHeader = header;
            a.native.text = dzx;
        }
        p.channels.push_back(std::move(a));
    }
    // Deferred, the caller takes the words from its own reads of every trace.
    if (!options.deferTraceWords) ReadTraceWords(file, l, scans, options.threads, p.channels);
    return p;
}

namespace {

class DztWriter : public FormatWriter {
public:
    DztWriter(const std::vector<Acquisition>& channels, SampleType type)
        : type_(type), samples_(channels.front().samples) {
        const Acquisition& a0 = channels.front();
        if (a0.native.format == Format::kDzt) dzx_ = a0.native.text;
        if (a0.geographic) {
            coordinates_ = a0.coordinates;
            times_ = a0.traceTimes;
        }
        if (!ReuseHeader(channels)) BuildHeader(channels);
        const int64_t wordBytes = 2 * SampleTypeBytes(type);
        for (const Acquisition& a : channels) {
            const bool fits = RecordedWordBytes(a) == wordBytes;
            recordedFits_.push_back(fits);
            words_.push_back(fits ? a.native.traceHeaders : std::vector<uint8_t>());
            marks_.push_back(a.marks);
            std::stable_sort(marks_.back().begin(), marks_.back().end(),
                             [](const Mark& x, const Mark& y) { return x.trace < y.trace; });
        }
    }

    TraceLayout Layout() const override {
        TraceLayout l;
        l.dataOffset = static_cast<int64_t>(header_.size());
        l.samples = samples_;
        l.type = type_;
        l.recordBytes = int64_t{samples_} * SampleTypeBytes(type_);
        l.channels = static_cast<int32_t>(words_.size());
        l.skipWords = 2;
        return l;
    }

    std::vector<uint8_t> FileHeader(int64_t) override { return header_; }

    // The scan counter and mark word that 16-bit samples cannot carry: the
    // recorded ones when there are (given with the samples, or in the
    // record), else the scan number and the trace's mark.
    void PatchSamples(int64_t scan, int32_t channel, uint8_t* samples, const uint8_t* recorded) const override {
        const int bytes = SampleTypeBytes(type_);
        if (recorded != nullptr && recordedFits_[static_cast<size_t>(channel)]) {
            std::memcpy(samples, recorded, static_cast<size_t>(2 * bytes));
            return;
        }
        const std::vector<uint8_t>& words = words_[static_cast<size_t>(channel)];
        if ((scan + 1) * 2 * bytes <= static_cast<int64_t>(words.size())) {
            std::memcpy(samples, words.data() + scan * 2 * bytes, static_cast<size_t>(2 * bytes));
            return;
        }
        const std::vector<Mark>& marks = marks_[static_cast<size_t>(channel)];
        const auto m = std::lower_bound(marks.begin(), marks.end(), scan,
                                        [](const Mark& x, int64_t t) { return x.trace < t; });
        uint32_t mark = m != marks.end() && m->trace == scan ? static_cast<uint32_t>(m->value) : 0;
        const uint32_t mask = bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
        if (m != marks.end() && m->trace == scan && (mark & mask) == 0) mark = 1;  // still a mark
        StoreWord(samples, static_cast<uint32_t>(scan) & mask, bytes);
        StoreWord(samples + bytes, mark & mask, bytes);
    }

    std::vector<Companion> Companions(int64_t scans) override {
        std::vector<Companion> out;
        if (!dzx_.empty()) out.push_back({".DZX", dzx_});
        const std::string fixes = FormatScanFixes(coordinates_, times_, scans);
        if (!fixes.empty()) out.push_back({".DZG", fixes});
        return out;
    }

private:
    static void StoreWord(uint8_t* p, uint32_t v, int bytes) {
        if (bytes == 1) p[0] = static_cast<uint8_t>(v);
        else if (bytes == 2) Put16(p, v);
        else Put32(p, v);
    }

    int Bits() const { return 8 * SampleTypeBytes(type_); }

    // Sample layout and acquisition facts (window, position, antenna name,
    // spacing) into block c; values the block already states (as the reader
    // would derive them) are left untouched.
    void SetFacts(int32_t c, int32_t nchan, const Acquisition& a) {
        uint8_t* b = header_.data() + c * kBlockBytes;
        const Block old = ReadBlock(b);
        if (old.bits != Bits()) b[kDtypeAt] = 0;  // a type code would contradict the new bits
        Put16(b + kNsampAt, static_cast<uint32_t>(a.samples));
        Put16(b + kBitsAt, static_cast<uint32_t>(Bits()));
        Put16(b + kNchanAt, static_cast<uint32_t>(nchan));
        if (std::isfinite(a.sampleIntervalNs) &&
            (a.samples != old.nsamp || !Same(a.sampleIntervalNs, old.range / static_cast<double>(old.nsamp)))) {
            PutF32(b + kRangeAt, a.sampleIntervalNs * a.samples);
        }
        // The position follows time zero, the fact the library works with.
        const double position = std::isfinite(a.timeZeroSample) && a.sampleIntervalNs > 0.0
                                    ? (1.0 - a.timeZeroSample) * a.sampleIntervalNs
                                    : a.firstSampleTimeNs;
        if (std::isfinite(position) && static_cast<float>(position) != old.position) {
            PutF32(b + kPositionAt, position);
        }
        std::string name = a.antennaName;
        if (name.empty() && a.antennaFrequencyMHz > 0.0 && a.antennaFrequencyMHz < 1e6) {
            name = std::to_string(static_cast<int64_t>(std::lround(a.antennaFrequencyMHz))) + "MHz";
        }
        if (name != old.antenna) {
            std::memset(b + kAntennaAt, 0, kAntennaBytes);
            std::memcpy(b + kAntennaAt, name.data(), std::min<size_t>(name.size(), kAntennaBytes));
        }
        if (!SameSpacing(DeriveSpacing(old.spm, old.sps, dzx_), a)) {
            const bool distance = !a.timeTriggered && a.traceSpacingM > 0.0 && std::isfinite(a.traceSpacingM);
            const bool timed = a.timeTriggered && a.traceIntervalS > 0.0 && std::isfinite(a.traceIntervalS);
            PutF32(b + kSpmAt, distance ? 1.0 / a.traceSpacingM : 0.0);
            if (timed || !distance) PutF32(b + kSpsAt, timed ? 1.0 / a.traceIntervalS : 0.0);
        }
    }

    // The creation date and time of a built header: the first trace time
    // that has a day, in the header's packed form (seconds halved, years
    // from 1980 to 2107); left zero without one.
    static void PutCreated(uint8_t* b, const Acquisition& a) {
        const TraceTime* t = FirstDated(a.traceTimes);
        if (t == nullptr) return;
        const uint32_t year = static_cast<uint32_t>(t->date / 10000);
        if (year < 1980 || year > 2107) return;
        const uint32_t s = static_cast<uint32_t>(std::min(t->secondOfDay, 86399.0));
        Put32(b + kCreatedAt, (s % 60 / 2) | (s / 60 % 60) << 5 | (s / 3600) << 11 |
                                  static_cast<uint32_t>(t->date % 100) << 16 |
                                  static_cast<uint32_t>(t->date / 100 % 100) << 21 | (year - 1980) << 25);
    }

    // Starts from the records' own header when every channel is the
    // same-numbered channel of one DZT file: a round trip keeps every byte.
    bool ReuseHeader(const std::vector<Acquisition>& channels) {
        const int32_t n = static_cast<int32_t>(channels.size());
        const std::vector<uint8_t>& h = channels.front().native.fileHeader;
        const int64_t size = static_cast<int64_t>(h.size());
        if (channels.front().native.format != Format::kDzt || size < kBlockBytes * n || size % kBlockBytes != 0) {
            return false;
        }
        for (int32_t c = 0; c < n; ++c) {
            const Acquisition& a = channels[static_cast<size_t>(c)];
            if (a.channel != c || a.native.format != Format::kDzt ||
                (c > 0 && !a.native.fileHeader.empty() && a.native.fileHeader != h)) {
                return false;
            }
        }
        // The data offset code: kept when it already says "after the
        // blocks", else the header's length in kilobytes (below 1024).
        const uint16_t code = Get16(h.data() + kDataAt);
        const bool keepCode = size == kBlockBytes * n && !(code >= 1 && code < 1024);
        if (!keepCode && size / kBlockBytes >= 1024) return false;
        header_ = h;
        if (!keepCode) Put16(header_.data() + kDataAt, static_cast<uint32_t>(size / kBlockBytes));
        for (int32_t c = 0; c < n; ++c) SetFacts(c, n, channels[static_cast<size_t>(c)]);
        return true;
    }

    // One block per channel from the acquisition facts, each with its
    // range-gain table.
    void BuildHeader(const std::vector<Acquisition>& channels) {
        const int32_t n = static_cast<int32_t>(channels.size());
        header_.assign(static_cast<size_t>(kBlockBytes * n), 0);
        for (int32_t c = 0; c < n; ++c) {
            const Acquisition& a = channels[static_cast<size_t>(c)];
            uint8_t* b = header_.data() + c * kBlockBytes;
            Put16(b + kTagAt, 0x00FF);
            Put16(b + kDataAt, static_cast<uint32_t>(kBlockBytes));
            SetFacts(c, n, a);
            PutCreated(b, a);
            const int64_t gains = static_cast<int64_t>(a.rangeGain.size());
            if (gains > 0 && kInfoAt + 2 + 4 * gains <= kInfoEnd) {
                Put16(b + kRgainAt, static_cast<uint32_t>(c * kBlockBytes + kInfoAt));
                Put16(b + kNrgainAt, static_cast<uint32_t>(2 + 4 * gains));
                Put16(b + kInfoAt, static_cast<uint32_t>(gains));
                for (int64_t j = 0; j < gains; ++j) {
                    PutF32(b + kInfoAt + 2 + 4 * j, a.rangeGain[static_cast<size_t>(j)].gainDb);
                }
            }
        }
    }

    SampleType type_;
    int32_t samples_;
    std::string dzx_;
    std::vector<Coordinate> coordinates_;
    std::vector<TraceTime> times_;
    std::vector<uint8_t> header_;
    std::vector<bool> recordedFits_;           // per channel: its recorded words are of this file's size
    std::vector<std::vector<uint8_t>> words_;  // per channel: the recorded words of every trace
    std::vector<std::vector<Mark>> marks_;     // per channel, by trace
};

}  // namespace

std::unique_ptr<FormatWriter> MakeDztWriter(const std::vector<Acquisition>& channels, SampleType type) {
    if (type != SampleType::kU8 && type != SampleType::kU16 && type != SampleType::kI32) {
        throw SurveyError("", "sample type", std::string("DZT files hold u8, u16 or i32 samples, not ") +
                                                 SampleTypeName(type));
    }
    if (channels.empty() || channels.size() > static_cast<size_t>(kMaxWriteChannels)) {
        throw SurveyError("", "channels", "a DZT file is written with 1 to " + std::to_string(kMaxWriteChannels) +
                                              " channels, not " + std::to_string(channels.size()));
    }
    const int32_t samples = channels.front().samples;
    if (samples <= 2 || samples > 0xFFFF) {
        throw SurveyError("", "samples", "a DZT trace holds 3 to 65535 samples, not " + std::to_string(samples));
    }
    for (const Acquisition& a : channels) {
        if (a.samples != samples) throw SurveyError("", "samples", "channels differ in samples per trace");
        // The header states the interval as the time window, a 32-bit float.
        const float range = static_cast<float>(a.sampleIntervalNs * samples);
        if (!(range > 0.0f) || !std::isfinite(range)) {
            throw SurveyError("", "sample interval", FormatNumber(a.sampleIntervalNs) + " ns over " +
                                                         std::to_string(samples) +
                                                         " samples does not fit DZT's time range (a 32-bit float)");
        }
    }
    return std::unique_ptr<FormatWriter>(new DztWriter(channels, type));
}

}  // namespace internal
}  // namespace survey
}  // namespace vantir3
