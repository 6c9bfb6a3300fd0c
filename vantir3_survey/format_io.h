// Internal interface between the generic survey-file machinery and the
// per-format readers and writers. A format parses its headers into one
// Acquisition per channel and a TraceLayout; the generic code reads, decodes
// and scales samples. A format writer supplies its headers and companions;
// the generic writer encodes samples and handles temporary names.
#ifndef VANTIR3_SURVEY_FORMAT_IO_H_
#define VANTIR3_SURVEY_FORMAT_IO_H_

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vantir3_survey/survey.h"

namespace vantir3 {
namespace survey {
namespace internal {

// Reads exactly `bytes` bytes at `offset` of the open file `fd` of `size`
// bytes; throws SurveyError naming path, field and offset when the range
// lies outside the file or the read fails.
void ReadFully(int fd, int64_t size, const std::string& path, const std::string& field, int64_t offset,
               void* out, int64_t bytes);

// A file opened read-only, with bounded positioned reads.
class InputFile {
public:
    // Throws SurveyError when the file cannot be opened or is not a regular file.
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& path() const { return path_; }
    int64_t size() const { return size_; }
    int fd() const { return fd_; }
    // Hands the descriptor over (to a SurveyFile); the InputFile no longer closes it.
    int Release();

    // Reads exactly bytes at offset; throws SurveyError naming field and
    // offset when the file ends first.
    void ReadAt(int64_t offset, void* out, int64_t bytes, const std::string& field) const;
    std::vector<uint8_t> ReadBytes(int64_t offset, int64_t bytes, const std::string& field) const;
    // [[noreturn]] helper: throws SurveyError for this file.
    [[noreturn]] void Fail(const std::string& field, const std::string& what,
                           int64_t offset = -1) const;

private:
    std::string path_;
    int fd_ = -1;
    int64_t size_ = 0;
};

// The path of a companion file beside `path` with the other extension
// (".HD" beside ".DT1"), matched case-insensitively; empty when absent.
std::string FindCompanion(const std::string& path, const std::string& extension);
// A whole text companion file, at most maxBytes long; throws SurveyError
// (naming the companion) when missing, unreadable or larger.
std::string ReadTextFile(const std::string& path, int64_t maxBytes = 16 << 20);
// The text of an optional companion (a GPS log beside the file): empty when
// there is none, and when it cannot be read, with a warning saying why.
std::string ReadCompanion(const std::string& path, const std::string& extension,
                          std::vector<std::string>& warnings, int64_t maxBytes = 16 << 20);
// The largest GPS log read for a file of `traces` traces: a log may give
// each trace its own fixes (as the writers do), so the bound grows with the
// traces.
inline int64_t GpsLogLimit(int64_t traces) { return std::max<int64_t>(int64_t{16} << 20, traces * 1024); }
// Splits text into lines on CR, LF or CRLF.
std::vector<std::string> SplitLines(const std::string& text);
// ASCII letters in lower or upper case.
std::string Lower(std::string text);
std::string Upper(std::string text);
// Trims spaces and tabs at both ends.
std::string Trim(const std::string& text);
// A finite number, or NaN when text is not one in full.
double ParseNumber(const std::string& text);

// What a format's reader found.
struct Parsed {
    std::vector<Acquisition> channels;  // one per channel; scale left at 1
    TraceLayout layout;
};

Parsed ParseDzt(const InputFile& file, const ReadOptions& options);
Parsed ParseDt1(const InputFile& file, const ReadOptions& options);
Parsed ParseRd3(const InputFile& file, const ReadOptions& options);  // .RD3 and .RD7
Parsed ParseSegy(const InputFile& file, const ReadOptions& options);

// Sample codecs over a layout's type and byte order. Decode: `count` stored
// samples at `in` to values (exact). Encode: values to stored samples;
// false when a value does not fit the type (nothing is clipped, and integer
// types take whole values only).
void DecodeValues(const uint8_t* in, int64_t count, SampleType type, bool bigEndian, double* out);
void DecodeSamples16(const uint8_t* in, int64_t count, SampleType type, bool bigEndian,
                     double scale, int16_t* out);
bool EncodeValues(const double* in, int64_t count, SampleType type, bool bigEndian, uint8_t* out);
// 16-bit samples straight into a 16-bit type (kI16 or kU16), exactly.
void EncodeSamples16(const int16_t* in, int64_t count, SampleType type, bool bigEndian, uint8_t* out);
// IBM single precision (big-endian words) to and from IEEE values, through segyio.
void IbmToValues(const uint8_t* in, int64_t count, double* out);
bool ValuesToIbm(const double* in, int64_t count, uint8_t* out);

// The power-of-two scale for a type whose largest magnitude is maxAbs:
// 1 for 16-bit types, else the smallest 2^k with maxAbs / 2^k <= 32767.
double ChooseScale(SampleType type, double maxAbs);

// What a format writer supplies to the generic writer.
class FormatWriter {
public:
    virtual ~FormatWriter();
    // Where the samples go in the main file; channels and samples as the
    // records', type as chosen.
    virtual TraceLayout Layout() const = 0;
    // Bytes [0, dataOffset) of the main file, given the number of scans.
    virtual std::vector<uint8_t> FileHeader(int64_t scans) = 0;
    // The headerBytes bytes before one trace's samples. Called from several
    // threads at once (for different scans): it changes nothing.
    virtual void TraceHeader(int64_t scan, int32_t channel, uint8_t* out) const { (void)scan; (void)channel; (void)out; }
    // A last change to one trace's encoded samples (DZT's non-radar words);
    // recorded: the trace's leading words as its input recorded them
    // (RecordedWordBytes of its record), or null. Called from several
    // threads at once as TraceHeader is.
    virtual void PatchSamples(int64_t scan, int32_t channel, uint8_t* samples, const uint8_t* recorded) const {
        (void)scan; (void)channel; (void)samples; (void)recorded;
    }
    // Companion files: extension (".HD") and contents, given the number of scans.
    struct Companion {
        std::string extension;
        std::string contents;
    };
    virtual std::vector<Companion> Companions(int64_t scans) { (void)scans; return {}; }
};

// Bytes of recorded leading words per trace of a record's input (a DZT's
// scan counter and mark word; 0 for other formats).
inline int64_t RecordedWordBytes(const Acquisition& a) {
    return a.native.format == Format::kDzt ? a.native.traceHeaderBytes : 0;
}

// The output type a format writes for an input type, and whether the
// format can hold `type` at all.
SampleType DefaultOutputType(Format format, SampleType input);
bool FormatHolds(Format format, SampleType type);
// Whether `type` holds every 16-bit sample times `scale` exactly.
bool HoldsSamples16(SampleType type, double scale);

// Whether a known value is one a survey can have: finite, above zero, or
// zero where zeroAllowed (an antenna separation).
inline bool UsableFact(double value, bool zeroAllowed) {
    return std::isfinite(value) && (value > 0.0 || (zeroAllowed && value == 0.0));
}
// Refuses (SurveyError on path, the fact as field) a known value that is not
// UsableFact. Unknown (NaN) passes unless required.
void CheckFact(const std::string& path, double value, bool zeroAllowed, bool required, const char* fact,
               const char* unit);

std::unique_ptr<FormatWriter> MakeDztWriter(const std::vector<Acquisition>& channels, SampleType type);
std::unique_ptr<FormatWriter> MakeDt1Writer(const std::vector<Acquisition>& channels, SampleType type);
std::unique_ptr<FormatWriter> MakeRd3Writer(const std::vector<Acquisition>& channels, SampleType type);  // RD3 and RD7 by type
std::unique_ptr<FormatWriter> MakeSegyWriter(const std::vector<Acquisition>& channels, SampleType type);

}  // namespace internal
}  // namespace survey
}  // namespace vantir3

#endif  // VANTIR3_SURVEY_FORMAT_IO_H_
