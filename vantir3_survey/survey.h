// VANTIR3 survey files: readers and writers of the field's GPR formats and
// a data source that serves an open file to the processing library.
//
// Conventions, for everything declared here:
//  - Errors are C++ exceptions of type SurveyError. Its message names the
//    file, the header field (or companion file) at fault and, where it
//    applies, the byte offset. Nothing here crashes or reads outside a file
//    on bad input, and no size read from a header is used before it has been
//    checked against the file's real size.
//  - Units are in the field names: ns for times, m for distances, MHz for
//    frequencies, dB for gains. A value that the file does not give is NaN
//    (numbers) or empty (lists, texts); the caller may supply it through
//    ReadOptions. Positions given in feet are converted to metres, and the
//    unit the file used is reported.
//  - Samples reach the library as signed 16-bit values. A file whose samples
//    are not 16-bit carries a power-of-two scale chosen from the data's
//    range: value = sample16 * scale, exactly. 16-bit files have scale 1.
//    Processed 16-bit results go back to the file's type through the same
//    scale. Nothing clips silently: writing a value that does not fit the
//    output type is an error.
//  - Trace and sample indices are 0-based; timeZeroSample is 1-based and
//    fractional, as the library's ICdpDataSource::SEGprParam expects.
//  - Inputs are only ever opened for reading. Output goes to a temporary name
//    beside the target and is renamed over it only when complete.
//  - A SurveyFile may be read from several threads at once (positioned
//    reads, no shared cursor). A FileSource, like every library object, is
//    used by one thread at a time; give each thread its own.
#ifndef VANTIR3_SURVEY_SURVEY_H_
#define VANTIR3_SURVEY_SURVEY_H_

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "vantir3/vantir3.h"

#if defined(_WIN32)
#define VANTIR3_SURVEY_API
#else
#define VANTIR3_SURVEY_API __attribute__((visibility("default")))
#endif

namespace vantir3 {
namespace survey {

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

enum class Format { kDzt, kDt1, kRd3, kRd7, kSegy };

// "DZT", "DT1", "RD3", "RD7", "SEG-Y".
VANTIR3_SURVEY_API const char* FormatName(Format format);
// The format that a path's extension names (case-insensitive: .dzt, .dt1,
// .rd3, .rd7, .sgy, .segy). Throws SurveyError for any other extension.
VANTIR3_SURVEY_API Format FormatFromPath(const std::string& path);

// A sample type as stored in a file.
enum class SampleType {
    kU8,     // unsigned 8-bit, offset binary (value = raw - 128)
    kI8,     // signed 8-bit
    kU16,    // unsigned 16-bit, offset binary (value = raw - 32768)
    kI16,    // signed 16-bit
    kI32,    // signed 32-bit
    kF32,    // IEEE single precision
    kIbm32,  // IBM single precision (SEG-Y format 1)
};
// "u8", "i8", "u16", "i16", "i32", "f32", "ibm32".
VANTIR3_SURVEY_API const char* SampleTypeName(SampleType type);
VANTIR3_SURVEY_API int SampleTypeBytes(SampleType type);

// A user mark on a trace.
struct Mark {
    int64_t trace = 0;
    int32_t value = 0;  // the mark word as recorded (0x6400, or 1 where the format has no word)
};

// A position of a trace: projected metres, or degrees when geographic.
struct Coordinate {
    double x = kUnknown;  // easting (m) or longitude (degrees, east positive)
    double y = kUnknown;  // northing (m) or latitude (degrees, north positive)
    double z = kUnknown;  // elevation, m
};

// When a trace was recorded, as the survey states it: GPS logs (.COR,
// .DZG) give UTC, trace headers the recorder's clock (SEG-Y headers say
// which, DT1 headers do not). The day where the record gives one, and the
// time of day. Traces between two logged fixes get a time interpolated
// between theirs, as they get a position.
struct TraceTime {
    int32_t date = 0;                // yyyymmdd, e.g. 20190726; 0 when the record gives no day
    double secondOfDay = kUnknown;   // seconds since midnight, fractional; NaN when unknown
};

// A trace time as text: "2019-07-26 16:58:43" (with the fraction of the
// second when there is one, to the microsecond), the time of day alone when
// the day is unknown, "" when the time is.
VANTIR3_SURVEY_API std::string FormatTraceTime(const TraceTime& time);

// One break point of the range gain that the unit applied while recording.
struct RangeGainPoint {
    double sample = 0.0;  // 0-based sample index of the point
    double gainDb = 0.0;
};

// What the format itself records beyond the acquisition facts, kept so that
// writing back to the same format loses nothing.
struct NativeHeader {
    Format format = Format::kDzt;
    std::vector<uint8_t> fileHeader;    // DZT header blocks, SEG-Y text + binary header
    std::string text;                   // .HD or .RAD text, as read
    int32_t traceHeaderBytes = 0;       // bytes of traceHeaders per trace
    std::vector<uint8_t> traceHeaders;  // per trace: DT1 128 B, SEG-Y 240 B, DZT the two non-radar words
};

// The acquisition record of one channel of a survey file.
struct VANTIR3_SURVEY_API Acquisition {
    Format format = Format::kDzt;
    int32_t channelCount = 1;
    int32_t channel = 0;
    int64_t traces = 0;   // traces of this channel
    int32_t samples = 0;  // samples per trace
    SampleType sampleType = SampleType::kI16;
    double scale = 1.0;   // value = sample16 * scale (a power of two)

    double sampleIntervalNs = kUnknown;
    std::string sampleIntervalSource;  // how it was derived, e.g. "range / samples", "1 / FREQUENCY"
    double timeZeroSample = 1.0;       // 1-based, fractional
    double firstSampleTimeNs = 0.0;    // time of sample 0 relative to time zero
    double timeWindowNs = kUnknown;    // as the header states it

    double traceSpacingM = kUnknown;   // NaN when unknown or time-triggered
    bool timeTriggered = false;
    double traceIntervalS = kUnknown;  // time between traces when time-triggered
    std::string traceSpacingSource;    // e.g. "scans per metre", "STEP SIZE USED", "DZX"

    std::string antennaName;
    double antennaFrequencyMHz = kUnknown;
    double antennaSeparationM = kUnknown;
    std::string positionUnit = "m";    // unit the file gives positions in ("m" or "ft")
    int32_t stacks = 0;                // 0 when not recorded

    std::vector<Mark> marks;
    std::vector<double> tracePositionsM;    // distance along the line per trace; empty when none
    std::vector<double> elevationsM;        // elevation per trace; empty when none
    std::vector<Coordinate> coordinates;    // per trace; empty when none
    bool geographic = false;                // coordinates are longitude/latitude
    std::vector<TraceTime> traceTimes;      // per trace; empty when none
    std::string traceTimeBasis;             // "UTC" or "local" where the record says which, else ""
    std::vector<RangeGainPoint> rangeGain;  // empty when none recorded
    std::vector<std::string> warnings;

    NativeHeader native;

    // The library's view of these facts.
    ICdpDataSource::SEGprParam GprParam() const;
};

// Choices a caller can make when the file is silent or wrong.
struct ReadOptions {
    enum class Endian { kAuto, kBig, kLittle };
    enum class TimeUnit { kAuto, kMicroseconds, kNanoseconds, kPicoseconds };

    bool formatGiven = false;  // read as `format` whatever the extension
    Format format = Format::kDzt;
    double sampleIntervalNs = kUnknown;  // overrides the file's
    double antennaFrequencyMHz = kUnknown;
    double antennaSeparationM = kUnknown;
    double traceSpacingM = kUnknown;
    Endian segyEndian = Endian::kAuto;
    TimeUnit segyIntervalUnit = TimeUnit::kAuto;
    bool rd3UseTimeWindow = false;  // RD3/RD7: dt from TIMEWINDOW / SAMPLES, not 1 / FREQUENCY
    // Threads that may read a large file at once while it is opened (a DZT's
    // trace words are gathered from every trace).
    int threads = 1;
    // DZT: leave the two leading words of every trace ungathered at open,
    // which spares a read of the whole file. For a caller that reads every
    // trace anyway and takes the words from its reads (ReadTraces16 with
    // words, FileSource::CaptureTraceWords) to the writer (WriteScans16At
    // with words). Each channel's native.traceHeaders and marks stay empty;
    // native.traceHeaderBytes still gives the words' size per trace.
    bool deferTraceWords = false;
};

class VANTIR3_SURVEY_API SurveyError : public std::runtime_error {
public:
    // message: "FILE: FIELD: WHAT (at byte OFFSET)"; field and offset are
    // left out when empty / negative.
    SurveyError(const std::string& file, const std::string& field, const std::string& what,
                int64_t offset = -1);
    const std::string& file() const { return file_; }
    const std::string& field() const { return field_; }
    // WHAT alone, without the file, the field and the offset.
    const std::string& detail() const { return detail_; }
    int64_t offset() const { return offset_; }

private:
    std::string file_, field_, detail_;
    int64_t offset_;
};

// Where the samples of one format sit in its main file: a data offset, then
// fixed-size trace records (a header of headerBytes, then samples), scan
// after scan with the channels interleaved.
struct TraceLayout {
    int64_t dataOffset = 0;
    int64_t recordBytes = 0;  // one trace record, header included
    int64_t headerBytes = 0;  // bytes before the samples in a record
    int32_t channels = 1;
    int32_t samples = 0;
    SampleType type = SampleType::kI16;
    bool bigEndian = false;
    int32_t skipWords = 0;  // leading samples that are not radar data (DZT: 2)
};

// An open survey file. Headers and companion files are read by Open; the
// samples stay in the file and are read on request.
class VANTIR3_SURVEY_API SurveyFile {
public:
    static std::unique_ptr<SurveyFile> Open(const std::string& path,
                                            const ReadOptions& options = ReadOptions());
    virtual ~SurveyFile();
    SurveyFile(const SurveyFile&) = delete;
    SurveyFile& operator=(const SurveyFile&) = delete;

    const std::string& path() const { return path_; }
    Format format() const { return channels_.front().format; }
    int32_t channelCount() const { return static_cast<int32_t>(channels_.size()); }
    int64_t traceCount() const { return channels_.front().traces; }
    int32_t sampleCount() const { return channels_.front().samples; }
    // Throws SurveyError for a channel that does not exist.
    const Acquisition& acquisition(int32_t channel = 0) const;
    const std::vector<Acquisition>& acquisitions() const { return channels_; }
    const TraceLayout& layout() const { return layout_; }

    // Traces [first, first + count) of one channel as signed 16-bit samples
    // through the channel's scale, trace after trace (count * samples values).
    // Leading non-radar words (DZT) are replaced by the first radar sample.
    virtual void ReadTraces16(int32_t channel, int64_t first, int64_t count, int16_t* out) const;
    // The same, and when words is not null each trace's leading non-radar
    // words as recorded into it: TraceWordBytes() bytes per trace, trace
    // after trace (a DZT's scan counter and mark word, as an open without
    // deferTraceWords keeps them in native.traceHeaders).
    void ReadTraces16(int32_t channel, int64_t first, int64_t count, int16_t* out, uint8_t* words) const;
    // Bytes of leading non-radar words per trace (0 when there are none).
    int64_t TraceWordBytes() const;
    // The same traces as the values stored in the file (exact), the
    // non-radar words included as recorded.
    virtual void ReadTraces(int32_t channel, int64_t first, int64_t count, double* out) const;

protected:
    SurveyFile(std::string path, int fd, int64_t size, std::vector<Acquisition> channels,
               TraceLayout layout);
    // Reads `bytes` bytes at `offset`; throws SurveyError naming what.
    void ReadAt(int64_t offset, void* out, int64_t bytes, const char* what) const;
    void CheckRange(int32_t channel, int64_t first, int64_t count) const;

private:
    std::string path_;
    int fd_;
    int64_t size_;
    std::vector<Acquisition> channels_;
    TraceLayout layout_;
};

struct WriteOptions {
    bool formatGiven = false;  // write `format` whatever the extension
    Format format = Format::kDzt;
    // The output sample type. By default the input's when the format can
    // hold it, otherwise the format's nearest (a wider one where it exists).
    bool sampleTypeGiven = false;
    SampleType sampleType = SampleType::kI16;
    // Commit flushes the files to the disk before renaming them into place,
    // so that a system crash cannot leave a renamed file whose samples never
    // reached the disk. Off, the system writes them back in its own time (as
    // a plain copy does), which saves the wait for the disk.
    bool sync = true;
    // For 16-bit samples (WriteScans16): a channel whose samples the output
    // type cannot hold through the channel's scale (fractions of an f32
    // file's values in an integer type, values beyond the type's range) has
    // the samples themselves written, at scale 1, instead of being refused;
    // without a given type, the output then takes the format's 16-bit type.
    // SurveyWriter::Scale tells which scale each channel got.
    bool fitSamples16 = false;
};

// Writes one survey file (and its companions) under a temporary name and
// renames everything into place on Commit. Destroying it without Commit
// removes what it wrote.
class VANTIR3_SURVEY_API SurveyWriter {
public:
    // channels: one record per channel, all with the same traces and
    // samples. The records' facts go into the headers; a record's native
    // header is reused when it is of the output's format.
    static std::unique_ptr<SurveyWriter> Create(const std::string& path,
                                                const std::vector<Acquisition>& channels,
                                                const WriteOptions& options = WriteOptions());
    virtual ~SurveyWriter();
    SurveyWriter(const SurveyWriter&) = delete;
    SurveyWriter& operator=(const SurveyWriter&) = delete;

    // Appends `count` scans after those appended before: for each scan, each
    // channel's trace of samples. 16-bit samples go through each channel's
    // scale into the output type.
    virtual void WriteScans16(const int16_t* samples, int64_t count) = 0;
    // The same with stored values (as ReadTraces gives them).
    virtual void WriteScans(const double* values, int64_t count) = 0;
    // Writes scans [first, first + count) at their place in the file. Scans
    // may be written in any order and from several threads at once, each
    // scan once; a scan written twice or beyond the declared count throws.
    virtual void WriteScans16At(int64_t first, const int16_t* samples, int64_t count) = 0;
    // The same with the scans' recorded leading words (each channel's, scan
    // after scan, as SurveyFile::ReadTraces16 gives them), which a DZT output
    // of the records' word size writes instead of the records' own
    // native.traceHeaders (empty when opened with deferTraceWords). Other
    // outputs have no such words and ignore them.
    virtual void WriteScans16At(int64_t first, const int16_t* samples, int64_t count, const uint8_t* words) = 0;
    // Checks that every declared trace was written, finishes the headers and
    // companions and renames them into place.
    virtual void Commit() = 0;
    // The scale through which a channel's 16-bit samples are written: its
    // record's, or 1 where fitSamples16 applied.
    virtual double Scale(int32_t channel) const = 0;

protected:
    SurveyWriter() = default;
};

// Reads a whole file's channel at once (convenience for small files).
struct SurveyData {
    Acquisition acquisition;
    std::vector<int16_t> samples16;  // traces x samples
};
VANTIR3_SURVEY_API SurveyData ReadSurvey16(const std::string& path, int32_t channel = 0,
                                           const ReadOptions& options = ReadOptions());

// An ICdpDataSource over one channel of an open file. Axis 0 is the sample
// (0 .. samples-1), axis 1 the trace (0 .. traces-1), axis 2 a single plane.
// A request reads exactly the traces of its region from the file, so memory
// follows the region, not the file. The file must outlive the source.
class VANTIR3_SURVEY_API FileSource : public ICdpDataSource {
public:
    FileSource(const SurveyFile& file, int32_t channel = 0);
    // With acquisition facts replaced (e.g. a caller-supplied frequency).
    FileSource(const SurveyFile& file, int32_t channel, const ICdpDataSource::SEGprParam& gpr);
    ~FileSource() override;

    const SEGprParam* GprParamPtr() const override;
    bool GetAvailableRange(Mebo3DDataAxis* range, int n) const override;
    int GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis* region,
                   const void* requester) const override;
    bool SourceChanged(const void* requester) const override;
    uint32_t EdgeEffect(bool recursive) const override;

    const SurveyFile& file() const { return file_; }
    int32_t channel() const { return channel_; }
    // A read error ends GetDataCdp with status -1 (the library takes no
    // exceptions); its message stays here for the host to report.
    const std::string& lastError() const { return lastError_; }

    // From now on, the recorded leading words (file().TraceWordBytes() per
    // trace) of the traces of [first, first + count) that requests read go
    // to words, from trace `first` on; count 0 stops it. For a host that
    // runs a chain over a range of traces and then writes them with their
    // words (a file opened with ReadOptions::deferTraceWords).
    void CaptureTraceWords(int64_t first, int64_t count, uint8_t* words);
    // The traces of the range given to CaptureTraceWords whose words have
    // been read since.
    int64_t CapturedTraces() const { return captured_; }

private:
    // Reads whole traces, keeping their words where CaptureTraceWords asks.
    void Read(int64_t first, int64_t count, int16_t* out) const;

    const SurveyFile& file_;
    int32_t channel_;
    SEGprParam gpr_;
    Mebo3DDataAxis range_;
    mutable std::string lastError_;
    // CaptureTraceWords: the range, where its words go, which of its traces
    // have them, and the words of a read.
    int64_t captureFirst_ = 0, captureCount_ = 0;
    uint8_t* captureWords_ = nullptr;
    mutable std::vector<uint8_t> captureDone_;
    mutable int64_t captured_ = 0;
    mutable std::vector<uint8_t> readWords_;
};

}  // namespace survey
}  // namespace vantir3

#endif  // VANTIR3_SURVEY_SURVEY_H_
