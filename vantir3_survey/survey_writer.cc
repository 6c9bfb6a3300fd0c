// The generic writer: the format supplies headers and companions, this file
// encodes the samples, writes everything under temporary names beside the
// targets and renames them into place only when the whole file is written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vantir3_survey/format_io.h"
#include "vantir3_survey/text_header.h"
#include "vantir3_survey/trace_time.h"

namespace vantir3 {
namespace survey {

namespace internal {

bool FormatHolds(Format format, SampleType type) {
    switch (format) {
        case Format::kDzt: return type == SampleType::kU8 || type == SampleType::kU16 || type == SampleType::kI32;
        case Format::kDt1: return type == SampleType::kI16 || type == SampleType::kF32;
        case Format::kRd3: return type == SampleType::kI16;
        case Format::kRd7: return type == SampleType::kI32;
        case Format::kSegy: return type == SampleType::kI16 || type == SampleType::kI32 || type == SampleType::kF32;
    }
    return false;
}

bool HoldsSamples16(SampleType type, double scale) {
    int exponent = 0;
    const bool powerOfTwo = std::frexp(scale, &exponent) == 0.5;
    switch (type) {
        case SampleType::kU8:
        case SampleType::kI8: return false;
        case SampleType::kU16:
        case SampleType::kI16: return scale == 1.0;
        // 32767 * 65536 and -32768 * 65536 are within the 32-bit range.
        case SampleType::kI32: return powerOfTwo && scale >= 1.0 && scale <= 65536.0;
        // A 16-bit value times a power of two is exact in either float
        // (IBM's hexadecimal fraction keeps at least 21 bits), far from
        // their limits.
        case SampleType::kF32:
        case SampleType::kIbm32: return powerOfTwo && scale >= 0x1p-100 && scale <= 0x1p100;
    }
    return false;
}

void CheckFact(const std::string& path, double value, bool zeroAllowed, bool required, const char* fact,
               const char* unit) {
    if ((std::isnan(value) && !required) || UsableFact(value, zeroAllowed)) return;
    if (std::isnan(value)) throw SurveyError(path, fact, "unknown; a file needs it");
    throw SurveyError(path, fact, "the value " + FormatNumber(value) + " " + unit + " is not " +
                                      (zeroAllowed ? "zero or positive" : "positive"));
}

SampleType DefaultOutputType(Format format, SampleType input) {
    if (FormatHolds(format, input)) return input;
    const bool narrow = input == SampleType::kU8 || input == SampleType::kI8 ||
                        input == SampleType::kU16 || input == SampleType::kI16;
    switch (format) {
        case Format::kDzt: return narrow ? SampleType::kU16 : SampleType::kI32;
        case Format::kDt1: return narrow ? SampleType::kI16 : SampleType::kF32;
        case Format::kRd3: return SampleType::kI16;
        case Format::kRd7: return SampleType::kI32;
        case Format::kSegy: return narrow ? SampleType::kI16 : SampleType::kF32;
    }
    return input;
}

}  // namespace internal

namespace {

std::string PathWithExtension(const std::string& path, const std::string& extension) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    const std::string stem =
        (dot == std::string::npos || (slash != std::string::npos && dot < slash)) ? path : path.substr(0, dot);
    // The companion's extension follows the case of the main file's.
    bool upper = false;
    if (dot != std::string::npos && dot + 1 < path.size()) {
        upper = std::isupper(static_cast<unsigned char>(path[dot + 1])) != 0;
    }
    return stem + (upper ? internal::Upper(extension) : internal::Lower(extension));
}

// One output file under a temporary name beside its target.
class TempFile {
public:
    explicit TempFile(const std::string& target) : target_(target) {
        temp_ = target + ".tmp-XXXXXX";
        fd_ = ::mkstemp(temp_.data());
        if (fd_ < 0) {
            throw SurveyError(target, "", std::string("cannot create the output file: ") + std::strerror(errno));
        }
        ::fchmod(fd_, 0644 & ~CurrentUmask());
    }
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlink(temp_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Writes at an offset; several threads may write different parts at once.
    void WriteAt(int64_t offset, const void* data, size_t bytes) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        while (bytes > 0) {
            const ssize_t n = ::pwrite(fd_, p, bytes, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw SurveyError(target_, "", std::string("write failed: ") + std::strerror(errno));
            p += n;
            offset += n;
            bytes -= static_cast<size_t>(n);
        }
    }
    // Flushes and closes; the file keeps its temporary name until Rename.
    void Finish(bool sync) {
        if ((sync && ::fsync(fd_) != 0) || ::close(fd_) != 0) {
            fd_ = -1;
            throw SurveyError(target_, "", std::string("write failed: ") + std::strerror(errno));
        }
        fd_ = -1;
    }
    void Rename() {
        if (::rename(temp_.c_str(), target_.c_str()) != 0) {
            throw SurveyError(target_, "", std::string("cannot rename the finished output into place: ") +
                                               std::strerror(errno));
        }
        committed_ = true;
    }

private:
    static mode_t CurrentUmask() {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }
    std::string target_, temp_;
    int fd_ = -1;
    bool committed_ = false;
};

// Records are encoded into writes of about this many bytes.
constexpr int64_t kWriteBytes = 4 << 20;

class GenericWriter : public SurveyWriter {
public:
    GenericWriter(const std::string& path, const std::vector<Acquisition>& channels, std::vector<double> scales,
                  SampleType type, bool sync, std::unique_ptr<internal::FormatWriter> fw)
        : path_(path), scales_(std::move(scales)), type_(type), sync_(sync), fw_(std::move(fw)),
          layout_(fw_->Layout()), scanBytes_(layout_.recordBytes * layout_.channels), main_(path) {
        for (const Acquisition& a : channels) {
            wordsAt_.push_back(wordScanBytes_);
            wordBytes_.push_back(internal::RecordedWordBytes(a));
            wordScanBytes_ += wordBytes_.back();
        }
        scans_ = channels.front().traces;
        const std::vector<uint8_t> header = fw_->FileHeader(scans_);
        if (static_cast<int64_t>(header.size()) != layout_.dataOffset) {
            throw SurveyError(path_, "", "internal error: header size differs from the data offset");
        }
        main_.WriteAt(0, header.data(), header.size());
    }

    void WriteScans16(const int16_t* samples, int64_t count) override {
        WriteScans16At(appended_, samples, count);
        appended_ += count;
    }

    void WriteScans(const double* values, int64_t count) override {
        Write(appended_, count, [&](int64_t scan, int32_t c, uint8_t* out, Scratch&) {
            return internal::EncodeValues(values + (scan * layout_.channels + c) * layout_.samples,
                                          layout_.samples, type_, layout_.bigEndian, out);
        }, nullptr);
        appended_ += count;
    }

    void WriteScans16At(int64_t first, const int16_t* samples, int64_t count) override {
        WriteScans16At(first, samples, count, nullptr);
    }

    void WriteScans16At(int64_t first, const int16_t* samples, int64_t count, const uint8_t* words) override {
        Write(first, count, [&](int64_t scan, int32_t c, uint8_t* out, Scratch& scratch) {
            const int16_t* in = samples + (scan * layout_.channels + c) * layout_.samples;
            const double scale = scales_[static_cast<size_t>(c)];
            if (scale == 1.0 && (type_ == SampleType::kI16 || type_ == SampleType::kU16)) {
                // 16-bit samples into a 16-bit file: exact without a detour.
                internal::EncodeSamples16(in, layout_.samples, type_, layout_.bigEndian, out);
                return true;
            }
            scratch.values.resize(static_cast<size_t>(layout_.samples));
            for (int32_t i = 0; i < layout_.samples; ++i) scratch.values[i] = in[i] * scale;
            return internal::EncodeValues(scratch.values.data(), layout_.samples, type_, layout_.bigEndian, out);
        }, words);
    }

    void Commit() override {
        {
            std::lock_guard<std::mutex> io(ioMutex_);
            WriteDeferred();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (failed_) throw SurveyError(path_, "", "a write failed; the file is incomplete");
        if (written_ != scans_) {
            throw SurveyError(path_, "traces", std::to_string(written_) + " of the declared " +
                                                   std::to_string(scans_) + " traces were written");
        }
        std::vector<std::unique_ptr<TempFile>> companions;
        for (const internal::FormatWriter::Companion& c : fw_->Companions(scans_)) {
            companions.emplace_back(new TempFile(PathWithExtension(path_, c.extension)));
            companions.back()->WriteAt(0, c.contents.data(), c.contents.size());
            companions.back()->Finish(sync_);
        }
        main_.Finish(sync_);
        // Companions first: a main file under its real name always has them.
        for (auto& c : companions) c->Rename();
        main_.Rename();
    }

    double Scale(int32_t channel) const override {
        if (channel < 0 || channel >= static_cast<int32_t>(scales_.size())) {
            throw SurveyError(path_, "channels", "no channel " + std::to_string(channel));
        }
        return scales_[static_cast<size_t>(channel)];
    }

private:
    // Encoding space of one write in progress; kept for the next write.
    struct Scratch {
        std::thread::id owner;  // the thread that used it last
        std::vector<uint8_t> bytes;
        std::vector<double> values;
        int64_t offset = 0;  // where a kept write goes, and its size
        size_t size = 0;
    };
    static constexpr std::ptrdiff_t kDeferredPerThread = 2;

    // Claims scans [first, first + count) for one write: each scan once.
    void Claim(int64_t first, int64_t count) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (first < 0 || count < 0 || first > scans_ || count > scans_ - first) {
            throw SurveyError(path_, "traces", "traces " + std::to_string(first) + " + " + std::to_string(count) +
                                                   " outside the " + std::to_string(scans_) + " declared");
        }
        if (count == 0) return;
        // claimed_: the claimed runs, first scan -> end, neighbours merged.
        auto next = claimed_.upper_bound(first);
        if ((next != claimed_.end() && next->first < first + count) ||
            (next != claimed_.begin() && std::prev(next)->second > first)) {
            throw SurveyError(path_, "traces", "traces " + std::to_string(first) + " + " + std::to_string(count) +
                                                   " overlap traces written before");
        }
        int64_t begin = first, end = first + count;
        if (next != claimed_.end() && next->first == end) {
            end = next->second;
            next = claimed_.erase(next);
        }
        if (next != claimed_.begin() && std::prev(next)->second == begin) {
            std::prev(next)->second = end;
        } else {
            claimed_.emplace(begin, end);
        }
        written_ += count;
    }

    // A scratch for the calling thread: its own when one is spare (its bytes
    // are still in this core's cache, where another thread's would first
    // come over from the other core's), else any spare one, else a new one.
    std::unique_ptr<Scratch> TakeScratch() {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::thread::id self = std::this_thread::get_id();
        auto it = std::find_if(spare_.begin(), spare_.end(), [&](const auto& s) { return s->owner == self; });
        if (it == spare_.end() && !spare_.empty()) it = std::prev(spare_.end());
        std::unique_ptr<Scratch> s;
        if (it == spare_.end()) {
            s = std::make_unique<Scratch>();
        } else {
            s = std::move(*it);
            spare_.erase(it);
        }
        s->owner = self;
        return s;
    }

    void GiveScratch(std::unique_ptr<Scratch> s) {
        std::lock_guard<std::mutex> lock(mutex_);
        spare_.push_back(std::move(s));
    }

    // Writes an encoded scratch (its bytes' first `size` at `offset`), or,
    // when another thread is writing, keeps it for later (up to
    // kDeferredPerThread per thread) so that this thread goes on with its
    // next traces: the system lets one write into a file at a time, and a
    // thread that waits for it spins on a core that could be computing.
    // Whoever writes next writes the kept ones too.
    void WriteOrDefer(std::unique_ptr<Scratch> scratch, int64_t offset, size_t size) {
        scratch->offset = offset;
        scratch->size = size;
        std::unique_lock<std::mutex> io(ioMutex_, std::try_to_lock);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const std::thread::id self = scratch->owner;
            const bool keep = !io.owns_lock() && std::count_if(deferred_.begin(), deferred_.end(), [&](const auto& d) {
                                                     return d->owner == self;
                                                 }) < kDeferredPerThread;
            deferred_.push_back(std::move(scratch));
            if (keep) return;
        }
        if (!io.owns_lock()) io.lock();
        WriteDeferred();
    }

    // Writes the kept scratches, oldest first; the caller holds ioMutex_.
    void WriteDeferred() {
        for (;;) {
            std::unique_ptr<Scratch> next;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (deferred_.empty()) return;
                next = std::move(deferred_.front());
                deferred_.erase(deferred_.begin());
            }
            main_.WriteAt(next->offset, next->bytes.data(), next->size);
            GiveScratch(std::move(next));
        }
    }

    // Encodes scans [first, first + count) into whole records, in writes of
    // about kWriteBytes at the scans' place in the file. words: the scans'
    // recorded words (wordScanBytes_ per scan), or null. Every trace is
    // patched, so that words a format reserves (DZT's scan counter and mark
    // word) never hold samples of a format that has none.
    template <typename Encode>
    void Write(int64_t first, int64_t count, Encode encode, const uint8_t* words) {
        Claim(first, count);
        std::unique_ptr<Scratch> scratch = TakeScratch();
        try {
            const int64_t perWrite = std::max<int64_t>(1, kWriteBytes / scanBytes_);
            const size_t recordBytes = static_cast<size_t>(layout_.recordBytes);
            for (int64_t k = 0; k < count; k += perWrite) {
                const int64_t n = std::min(perWrite, count - k);
                const size_t bytes = static_cast<size_t>(n * scanBytes_);
                if (scratch->bytes.size() < bytes) scratch->bytes.resize(bytes);
                uint8_t* record = scratch->bytes.data();
                for (int64_t j = k; j < k + n; ++j) {
                    const int64_t scan = first + j;
                    for (int32_t c = 0; c < layout_.channels; ++c, record += recordBytes) {
                        if (layout_.headerBytes > 0) {
                            std::memset(record, 0, static_cast<size_t>(layout_.headerBytes));
                            fw_->TraceHeader(scan, c, record);
                        }
                        uint8_t* out = record + layout_.headerBytes;
                        if (!encode(j, c, out, *scratch)) {
                            throw SurveyError(path_, "samples",
                                              "trace " + std::to_string(scan) + " holds values that " +
                                                  SampleTypeName(type_) +
                                                  " samples cannot hold exactly (fractions, or beyond their range); write them as f32 samples "
                                                  "(DT1, SEG-Y) or a wider type");
                        }
                        const size_t at = static_cast<size_t>(j * wordScanBytes_ + wordsAt_[static_cast<size_t>(c)]);
                        const bool recorded = words != nullptr && wordBytes_[static_cast<size_t>(c)] > 0;
                        fw_->PatchSamples(scan, c, out, recorded ? words + at : nullptr);
                    }
                }
                WriteOrDefer(std::move(scratch), layout_.dataOffset + (first + k) * scanBytes_, bytes);
                if (k + perWrite < count) scratch = TakeScratch();
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            failed_ = true;
            throw;
        }
        if (scratch) GiveScratch(std::move(scratch));
    }

    const std::string path_;
    const std::vector<double> scales_;  // each channel's
    const SampleType type_;
    const bool sync_;
    const std::unique_ptr<internal::FormatWriter> fw_;
    const TraceLayout layout_;
    const int64_t scanBytes_;  // one scan: every channel's record
    // Recorded words given with 16-bit samples: per channel, their bytes and
    // their place within a scan's; a scan's bytes.
    std::vector<int64_t> wordBytes_, wordsAt_;
    int64_t wordScanBytes_ = 0;
    TempFile main_;
    int64_t scans_ = 0;
    int64_t appended_ = 0;  // the next scan of WriteScans16 and WriteScans

    std::mutex mutex_;  // guards what follows
    int64_t written_ = 0;
    std::map<int64_t, int64_t> claimed_;
    bool failed_ = false;
    std::vector<std::unique_ptr<Scratch>> spare_;
    std::vector<std::unique_ptr<Scratch>> deferred_;  // encoded, waiting for ioMutex_

    std::mutex ioMutex_;  // held while writing samples into the file
};

}  // namespace

SurveyWriter::~SurveyWriter() = default;

std::unique_ptr<SurveyWriter> SurveyWriter::Create(const std::string& path,
                                                   const std::vector<Acquisition>& channels,
                                                   const WriteOptions& options) {
    const Format format = options.formatGiven ? options.format : FormatFromPath(path);
    if (channels.empty()) throw SurveyError(path, "channels", "nothing to write: no channel");
    const Acquisition& first = channels.front();
    if (first.samples <= 0 || first.traces <= 0) {
        throw SurveyError(path, "traces", "nothing to write: " + std::to_string(first.traces) + " traces of " +
                                              std::to_string(first.samples) + " samples");
    }
    for (const Acquisition& a : channels) {
        if (a.traces != first.traces || a.samples != first.samples) {
            throw SurveyError(path, "channels", "channels differ in traces or samples");
        }
        if (!(a.scale > 0.0) || !std::isfinite(a.scale)) {
            throw SurveyError(path, "scale", "channel scale is not a positive number");
        }
        // Facts a reader would refuse or misread: every format states them.
        internal::CheckFact(path, a.sampleIntervalNs, false, true, "sample interval", "ns");
        internal::CheckFact(path, a.antennaFrequencyMHz, false, false, "antenna frequency", "MHz");
        internal::CheckFact(path, a.antennaSeparationM, true, false, "antenna separation", "m");
        internal::CheckFact(path, a.traceSpacingM, false, false, "trace spacing", "m");
        if (std::isinf(a.timeZeroSample)) throw SurveyError(path, "time zero", "the time zero sample is infinite");
        // Times the formats can state: a calendar day or none, a clock
        // reading within a day or none.
        for (size_t t = 0; t < a.traceTimes.size(); ++t) {
            const TraceTime& time = a.traceTimes[t];
            if (time.date != 0 && !internal::ValidDate(time.date)) {
                throw SurveyError(path, "trace times",
                                  "trace " + std::to_string(t) + "'s date " + std::to_string(time.date) +
                                      " is not a yyyymmdd calendar day");
            }
            if (!std::isnan(time.secondOfDay) && !internal::WithinDay(time.secondOfDay)) {
                throw SurveyError(path, "trace times", "trace " + std::to_string(t) + "'s second of day " +
                                                           internal::FormatNumber(time.secondOfDay) +
                                                           " is not within a day");
            }
        }
    }
    if (format != Format::kDzt && channels.size() != 1) {
        throw SurveyError(path, "channels", std::string(FormatName(format)) + " files hold one channel, not " +
                                                std::to_string(channels.size()));
    }
    SampleType type = options.sampleTypeGiven ? options.sampleType
                                              : internal::DefaultOutputType(format, first.sampleType);
    std::vector<double> scales;
    for (const Acquisition& a : channels) scales.push_back(a.scale);
    if (options.fitSamples16) {
        const bool fit = std::all_of(scales.begin(), scales.end(),
                                     [type](double s) { return internal::HoldsSamples16(type, s); });
        if (!fit && !options.sampleTypeGiven) type = internal::DefaultOutputType(format, SampleType::kI16);
        for (double& s : scales) {
            if (!internal::HoldsSamples16(type, s)) s = 1.0;
        }
    }
    if (!internal::FormatHolds(format, type)) {
        throw SurveyError(path, "sample type", std::string(FormatName(format)) + " files cannot hold " +
                                                   SampleTypeName(type) + " samples");
    }
    std::unique_ptr<internal::FormatWriter> fw;
    try {
        switch (format) {
            case Format::kDzt: fw = internal::MakeDztWriter(channels, type); break;
            case Format::kDt1: fw = internal::MakeDt1Writer(channels, type); break;
            case Format::kRd3:
            case Format::kRd7: fw = internal::MakeRd3Writer(channels, type); break;
            case Format::kSegy: fw = internal::MakeSegyWriter(channels, type); break;
        }
    } catch (const SurveyError& e) {
        // The formats' writers know the records, not the file they go to.
        if (!e.file().empty()) throw;
        throw SurveyError(path, e.field(), e.detail(), e.offset());
    }
    const TraceLayout l = fw->Layout();
    if (l.samples != first.samples || l.channels != static_cast<int32_t>(channels.size()) || l.type != type ||
        l.recordBytes != l.headerBytes + int64_t{l.samples} * SampleTypeBytes(type)) {
        throw SurveyError(path, "", "internal error: the format's layout does not match the records");
    }
    return std::unique_ptr<SurveyWriter>(new GenericWriter(path, channels, std::move(scales), type, options.sync, std::move(fw)));
}

}  // namespace survey
}  // namespace vantir3
