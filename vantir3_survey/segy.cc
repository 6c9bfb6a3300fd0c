// SEG-Y as GPR writers use it. Reading takes the standard big-endian file
// and the common variants: little-endian (told apart by the format code and
// sample count that make sense in one byte order only), ASCII text headers,
// and sample intervals stored in ps or ns instead of the standard's us.
// Writing makes a standard big-endian rev 1 file (format 3, 2 or 5: i16, i32
// or f32 samples, EBCDIC text)
// that states its interval unit and the antenna facts in the text header.
//
// Header fields are read and written through segyio's field accessors and
// SEGY_* field numbers, which take big-endian header bytes: the headers of a
// little-endian file are handed to them as byte-swapped copies, with the
// field widths taken from segyio itself. The samples are read by the generic
// positioned reader, not through a segyio file handle: a handle has one
// shared cursor and cannot serve concurrent readers of one open file.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <segyio/segy.h>

#include "vantir3_survey/format_io.h"
#include "vantir3_survey/text_header.h"
#include "vantir3_survey/trace_time.h"

namespace vantir3 {
namespace survey {
namespace internal {

namespace {

constexpr int64_t kTextBytes = SEGY_TEXT_HEADER_SIZE;
constexpr int64_t kBinaryBytes = SEGY_BINARY_HEADER_SIZE;
constexpr int64_t kHeaderBytes = kTextBytes + kBinaryBytes;
constexpr int64_t kTraceHeaderBytes = SEGY_TRACE_HEADER_SIZE;
constexpr int kLineChars = 80;
constexpr int kTextLines = static_cast<int>(kTextBytes / kLineChars);
constexpr int kRevision1 = 0x0100;
constexpr int64_t kChunkBytes = 8 << 20;      // bytes per read when collecting trace headers
constexpr int64_t kRunRecordBytes = 16 << 10;  // longer trace records have their headers read alone
constexpr double kFoot = 0.3048;

// The 0-based file offset of a binary-header field (its number is the
// standard's 1-based byte), for error messages.
constexpr int64_t At(int field) { return field - 1; }

// ---- text headers -----------------------------------------------------------

// EBCDIC (code page 037) to Latin-1. segyio's public header declares no
// text conversion (its own converter is internal, stops at the first NUL and
// works only through a file handle), so the table is written out here.
constexpr uint8_t kEbcdicToLatin1[256] = {
    0x00, 0x01, 0x02, 0x03, 0x9C, 0x09, 0x86, 0x7F, 0x97, 0x8D, 0x8E, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x9D, 0x85, 0x08, 0x87, 0x18, 0x19, 0x92, 0x8F, 0x1C, 0x1D, 0x1E, 0x1F,
    0x80, 0x81, 0x82, 0x83, 0x84, 0x0A, 0x17, 0x1B, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x05, 0x06, 0x07,
    0x90, 0x91, 0x16, 0x93, 0x94, 0x95, 0x96, 0x04, 0x98, 0x99, 0x9A, 0x9B, 0x14, 0x15, 0x9E, 0x1A,
    0x20, 0xA0, 0xE2, 0xE4, 0xE0, 0xE1, 0xE3, 0xE5, 0xE7, 0xF1, 0xA2, 0x2E, 0x3C, 0x28, 0x2B, 0x7C,
    0x26, 0xE9, 0xEA, 0xEB, 0xE8, 0xED, 0xEE, 0xEF, 0xEC, 0xDF, 0x21, 0x24, 0x2A, 0x29, 0x3B, 0xAC,
    0x2D, 0x2F, 0xC2, 0xC4, 0xC0, 0xC1, 0xC3, 0xC5, 0xC7, 0xD1, 0xA6, 0x2C, 0x25, 0x5F, 0x3E, 0x3F,
    0xF8, 0xC9, 0xCA, 0xCB, 0xC8, 0xCD, 0xCE, 0xCF, 0xCC, 0x60, 0x3A, 0x23, 0x40, 0x27, 0x3D, 0x22,
    0xD8, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0xAB, 0xBB, 0xF0, 0xFD, 0xFE, 0xB1,
    0xB0, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0x70, 0x71, 0x72, 0xAA, 0xBA, 0xE6, 0xB8, 0xC6, 0xA4,
    0xB5, 0x7E, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0xA1, 0xBF, 0xD0, 0xDD, 0xDE, 0xAE,
    0x5E, 0xA3, 0xA5, 0xB7, 0xA9, 0xA7, 0xB6, 0xBC, 0xBD, 0xBE, 0x5B, 0x5D, 0xAF, 0xA8, 0xB4, 0xD7,
    0x7B, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0xAD, 0xF4, 0xF6, 0xF2, 0xF3, 0xF5,
    0x7D, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0xB9, 0xFB, 0xFC, 0xF9, 0xFA, 0xFF,
    0x5C, 0xF7, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0xB2, 0xD4, 0xD6, 0xD2, 0xD3, 0xD5,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0xB3, 0xDB, 0xDC, 0xD9, 0xDA, 0x9F,
};

uint8_t ToEbcdic(uint8_t latin1) {
    static const std::vector<uint8_t> table = [] {
        std::vector<uint8_t> t(256);
        for (int e = 0; e < 256; ++e) t[kEbcdicToLatin1[e]] = static_cast<uint8_t>(e);
        return t;
    }();
    return table[latin1];
}

int TextScore(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ';
}

// Whether a text block reads as more letters, digits and spaces in EBCDIC
// than in ASCII.
bool LooksEbcdic(const uint8_t* p, int64_t n) {
    int64_t ascii = 0, ebcdic = 0;
    for (int64_t i = 0; i < n; ++i) {
        ascii += TextScore(p[i]);
        ebcdic += TextScore(kEbcdicToLatin1[p[i]]);
    }
    return ebcdic > ascii;
}

// A text block as its 80-character lines (Latin-1).
std::vector<std::string> TextLines(const uint8_t* p, int64_t n) {
    const bool ebcdic = LooksEbcdic(p, n);
    std::vector<std::string> lines;
    for (int64_t i = 0; i < n; i += kLineChars) {
        std::string line(static_cast<size_t>(std::min<int64_t>(kLineChars, n - i)), ' ');
        for (size_t k = 0; k < line.size(); ++k) {
            const uint8_t c = p[i + static_cast<int64_t>(k)];
            line[k] = static_cast<char>(ebcdic ? kEbcdicToLatin1[c] : c);
        }
        lines.push_back(line);
    }
    return lines;
}

// The 3200 EBCDIC bytes of 40 lines, each padded with spaces to 80.
void EncodeEbcdic(const std::vector<std::string>& lines, uint8_t* out) {
    for (int l = 0; l < kTextLines; ++l) {
        const std::string& line = lines[static_cast<size_t>(l)];
        for (int k = 0; k < kLineChars; ++k) {
            const uint8_t c = k < static_cast<int>(line.size()) ? static_cast<uint8_t>(line[k]) : ' ';
            out[l * kLineChars + k] = ToEbcdic(c);
        }
    }
}

// A line's content after its "C 5 " / "C40 " card prefix.
std::string CardContent(const std::string& line) {
    auto cardChar = [](char c) { return c == ' ' || (c >= '0' && c <= '9'); };
    if (line.size() >= 4 && line[0] == 'C' && cardChar(line[1]) && cardChar(line[2]) && line[3] == ' ') {
        return line.substr(4);
    }
    return line;
}

// "C 1 " .. "C40 ".
std::string CardPrefix(int line) {
    const std::string n = std::to_string(line + 1);
    return "C" + std::string(n.size() < 2 ? 1 : 0, ' ') + n + " ";
}

// The keys this library writes into the text header and reads back.
constexpr const char* kKeyUnit = "SAMPLE INTERVAL UNIT";
constexpr const char* kKeyInterval = "SAMPLE INTERVAL NS";
constexpr const char* kKeyAntenna = "ANTENNA";
constexpr const char* kKeyFrequency = "ANTENNA FREQUENCY MHZ";
constexpr const char* kKeySeparation = "ANTENNA SEPARATION M";
constexpr const char* kKeySpacing = "TRACE SPACING M";
constexpr const char* kKeyTimeZero = "TIME ZERO SAMPLE";

// ---- header fields through segyio -------------------------------------------

struct Field {
    int offset;  // 0-based within the header
    int width;   // bytes
};

// Every field segyio knows in a binary (400 B) or trace (240 B) header,
// found by asking it to set each byte number to -1.
const std::vector<Field>& Fields(bool binary) {
    auto collect = [](bool bin) {
        std::vector<Field> fields;
        const int first = bin ? static_cast<int>(kTextBytes) + 1 : 1;
        const int bytes = bin ? static_cast<int>(kBinaryBytes) : static_cast<int>(kTraceHeaderBytes);
        for (int f = first; f < first + bytes; ++f) {
            uint8_t probe[kBinaryBytes] = {};
            char* p = reinterpret_cast<char*>(probe);
            if ((bin ? segy_set_bfield(p, f, -1) : segy_set_field(p, f, -1)) != SEGY_OK) continue;
            const int width = static_cast<int>(std::count(probe, probe + bytes, uint8_t{0xFF}));
            if (width > 0) fields.push_back({f - first, width});
        }
        return fields;
    };
    static const std::vector<Field> binaryFields = collect(true);
    static const std::vector<Field> traceFields = collect(false);
    return binary ? binaryFields : traceFields;
}

// Reverses the bytes of every field: little- to big-endian and back.
void SwapFields(uint8_t* header, bool binary) {
    for (const Field& f : Fields(binary)) std::reverse(header + f.offset, header + f.offset + f.width);
}

// A binary or trace header as segyio reads it: a big-endian copy.
class Header {
public:
    Header(const uint8_t* stored, bool binary, bool bigEndian) : binary_(binary) {
        std::memcpy(bytes_, stored, static_cast<size_t>(binary ? kBinaryBytes : kTraceHeaderBytes));
        if (!bigEndian) SwapFields(bytes_, binary);
    }
    int32_t Get(int field) const {
        int32_t v = 0;
        const char* p = reinterpret_cast<const char*>(bytes_);
        if (binary_) segy_get_bfield(p, field, &v); else segy_get_field(p, field, &v);
        return v;
    }
    // A 2-byte field read as unsigned (segyio sign-extends them).
    int32_t Unsigned(int field) const { return Get(field) & 0xFFFF; }

private:
    uint8_t bytes_[kBinaryBytes];
    bool binary_;
};

void SetBinary(uint8_t* bigEndian, int field, int32_t v) {
    segy_set_bfield(reinterpret_cast<char*>(bigEndian), field, v);
}
void SetTrace(uint8_t* bigEndian, int field, int32_t v) {
    segy_set_field(reinterpret_cast<char*>(bigEndian), field, v);
}

// Bytes per sample of a format code this reader takes; 0 for any other.
int SampleBytes(int format) {
    switch (format) {
        case SEGY_IBM_FLOAT_4_BYTE:
        case SEGY_SIGNED_INTEGER_4_BYTE:
        case SEGY_SIGNED_SHORT_2_BYTE:
        case SEGY_IEEE_FLOAT_4_BYTE:
        case SEGY_SIGNED_CHAR_1_BYTE: return segy_trsize(format, 1);
        default: return 0;
    }
}

SampleType TypeOf(int format) {
    switch (format) {
        case SEGY_IBM_FLOAT_4_BYTE: return SampleType::kIbm32;
        case SEGY_SIGNED_INTEGER_4_BYTE: return SampleType::kI32;
        case SEGY_SIGNED_SHORT_2_BYTE: return SampleType::kI16;
        case SEGY_SIGNED_CHAR_1_BYTE: return SampleType::kI8;
        default: return SampleType::kF32;
    }
}

// How well a binary header reads in one byte order: a known format code
// counts 2, a sample count whose first trace fits in the file 1.
int Plausibility(const Header& bin, int64_t fileSize) {
    const int bytes = SampleBytes(bin.Get(SEGY_BIN_FORMAT));
    const int64_t samples = bin.Unsigned(SEGY_BIN_SAMPLES);
    const bool fits = samples > 0 && kHeaderBytes + kTraceHeaderBytes + samples * std::max(bytes, 1) <= fileSize;
    return (bytes > 0 ? 2 : 0) + (fits ? 1 : 0);
}

// Whether a stored binary header is big-endian (the standard order wins ties).
bool SniffBigEndian(const uint8_t* binary, int64_t fileSize) {
    return Plausibility(Header(binary, true, true), fileSize) >= Plausibility(Header(binary, true, false), fileSize);
}

// A field through a scalar of the standard's set (+-1, 10, 100, 1000,
// 10000): positive multiplies, negative divides; 0 and anything else leave
// the field as it is. asDivisor: a positive scalar divides too.
bool StandardScalar(int32_t s) {
    const int32_t m = s < 0 ? -s : s;
    return m == 1 || m == 10 || m == 100 || m == 1000 || m == 10000;
}
double ApplyScalar(double field, int32_t s, bool asDivisor = false) {
    if (!StandardScalar(s)) return field;
    const double m = std::fabs(static_cast<double>(s));
    return (s < 0 || asDivisor) ? field / m : field * m;
}
// The field that ApplyScalar turns into v (rounded half up).
double UnapplyScalar(double v, int32_t s) {
    const double m = std::fabs(static_cast<double>(s));
    return std::floor((s < 0 ? v * m : v / m) + 0.5);
}

// ---- time units -------------------------------------------------------------

enum class Unit { kUs, kNs, kPs };

const char* UnitName(Unit u) { return u == Unit::kUs ? "us" : u == Unit::kNs ? "ns" : "ps"; }

double ToNs(double v, Unit u) { return u == Unit::kUs ? v * 1000.0 : u == Unit::kNs ? v : v / 1000.0; }
double FromNs(double ns, Unit u) { return u == Unit::kUs ? ns / 1000.0 : u == Unit::kNs ? ns : ns * 1000.0; }

// A plausible GPR sample interval, ns.
constexpr double kMinIntervalNs = 0.005;
constexpr double kMaxIntervalNs = 20.0;
constexpr double kTypicalIntervalNs = 0.5;

bool UnitFromText(const std::string& text, Unit* unit) {
    std::string t = Trim(text);
    if (t.size() < 2) return false;
    const char a = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
    const char b = static_cast<char>(std::toupper(static_cast<unsigned char>(t[1])));
    if (b != 'S') return false;
    if (a == 'P') *unit = Unit::kPs;
    else if (a == 'N') *unit = Unit::kNs;
    else if (a == 'U') *unit = Unit::kUs;
    else return false;
    return true;
}

// ---- coordinates ------------------------------------------------------------

// Distance between two positions, m (geographic: degrees on a sphere).
double Distance(const Coordinate& a, const Coordinate& b, bool geographic) {
    if (!geographic) return std::hypot(b.x - a.x, b.y - a.y);
    constexpr double kRadiusM = 6371008.8;
    constexpr double kRad = 3.14159265358979323846 / 180.0;
    const double dLat = (b.y - a.y) * kRad;
    const double dLon = (b.x - a.x) * kRad * std::cos(0.5 * (a.y + b.y) * kRad);
    return kRadiusM * std::hypot(dLat, dLon);
}

// ---- recording times -------------------------------------------------------

// Day 1 of a year (1 .. 9999), as days from 1970-01-01.
int64_t NewYear(int year) { return DaysFromDate(year * 10000 + 101); }
int DaysInYear(int year) { return static_cast<int>(DaysFromDate(year * 10000 + 1231) - NewYear(year)) + 1; }

// The recording-time fields of a trace header (trace bytes 157-168).
struct TimeFields {
    int16_t year, day, hour, minute, second, basis;
};

// What makes a trace's recorded time unusable ("" when it is usable or
// the trace records none: year 0).
std::string TimeFault(const TimeFields& f) {
    if (f.year == 0) return "";
    if (f.year < 0 || f.year > 9999) return "year " + std::to_string(f.year);
    if (f.day < 1 || f.day > DaysInYear(f.year)) {
        return "day of year " + std::to_string(f.day) + " in " + std::to_string(f.year);
    }
    if (f.hour < 0 || f.hour > 23) return "hour " + std::to_string(f.hour);
    if (f.minute < 0 || f.minute > 59) return "minute " + std::to_string(f.minute);
    if (f.second < 0 || f.second > 60) return "second " + std::to_string(f.second);
    return "";
}

struct TraceFields {
    int32_t x[2], y[2];  // source x/y, CDP x/y
    int32_t coordinateScalar;
    int32_t elevation, elevationScalar;
    TimeFields time;
};

// ---- reader -----------------------------------------------------------------

class Reader {
public:
    Reader(const InputFile& file, const ReadOptions& options) : file_(file), options_(options) {}

    Parsed Parse() {
        if (file_.size() < kHeaderBytes) {
            file_.Fail("binary header", "the file has " + std::to_string(file_.size()) +
                                            " bytes, fewer than the 3600 of the text and binary headers",
                       kTextBytes);
        }
        header_ = file_.ReadBytes(0, kHeaderBytes, "binary header");
        ChooseByteOrder();
        const Header bin(&header_[kTextBytes], true, big_);
        ReadFormat(bin);
        ReadTextHeaders(bin);
        ReadSamplesAndTraces(bin);
        ReadTraceHeaders();
        ReadInterval(bin);
        ReadTimeZero();
        ReadTextFacts();
        ReadPositions(bin);
        ReadTraceTimes();
        a_.native.format = Format::kSegy;
        a_.native.fileHeader = std::move(header_);
        a_.native.traceHeaderBytes = static_cast<int32_t>(kTraceHeaderBytes);
        Parsed p;
        p.layout.dataOffset = dataOffset_;
        p.layout.recordBytes = recordBytes_;
        p.layout.headerBytes = kTraceHeaderBytes;
        p.layout.channels = 1;
        p.layout.samples = a_.samples;
        p.layout.type = a_.sampleType;
        p.layout.bigEndian = big_;
        p.channels.push_back(std::move(a_));
        return p;
    }

private:
    void ChooseByteOrder() {
        switch (options_.segyEndian) {
            case ReadOptions::Endian::kBig: big_ = true; break;
            case ReadOptions::Endian::kLittle: big_ = false; break;
            case ReadOptions::Endian::kAuto: big_ = SniffBigEndian(&header_[kTextBytes], file_.size()); break;
        }
    }

    void ReadFormat(const Header& bin) {
        const int format = bin.Get(SEGY_BIN_FORMAT);
        bytes_ = SampleBytes(format);
        if (bytes_ == 0) {
            file_.Fail("format code", "format code " + std::to_string(format) + " (" +
                                          (big_ ? "big" : "little") +
                                          "-endian, SEG-Y bytes 3225-3226) is not a sample format this "
                                          "reader takes (1 IBM float, 2 i32, 3 i16, 5 IEEE float, 8 i8)",
                       At(SEGY_BIN_FORMAT));
        }
        a_.sampleType = TypeOf(format);
    }

    void ReadTextHeaders(const Header& bin) {
        std::vector<std::string> lines = TextLines(header_.data(), kTextBytes);
        const int32_t extended = bin.Get(SEGY_BIN_EXT_HEADERS);
        const int64_t available = (file_.size() - kHeaderBytes) / kTextBytes;
        if (extended < -1 || extended > available) {
            file_.Fail("extended textual header count",
                       std::to_string(extended) + " extended textual headers (SEG-Y bytes 3505-3506) do not fit in "
                       "the " + std::to_string(file_.size()) + "-byte file", At(SEGY_BIN_EXT_HEADERS));
        }
        // -1: a variable count, ended by the block holding the end stanza.
        for (int64_t k = 0; extended == -1 || k < extended; ++k) {
            const int64_t offset = kHeaderBytes + k * kTextBytes;
            if (extended == -1 && offset + kTextBytes > file_.size()) {
                file_.Fail("extended textual header count",
                           "a variable count (-1) of extended textual headers, but no end stanza "
                           "before the end of the file", At(SEGY_BIN_EXT_HEADERS));
            }
            const std::vector<uint8_t> block = file_.ReadBytes(offset, kTextBytes, "extended textual header");
            header_.insert(header_.end(), block.begin(), block.end());
            const std::vector<std::string> more = TextLines(block.data(), kTextBytes);
            lines.insert(lines.end(), more.begin(), more.end());
            if (extended == -1) {
                std::string all;
                for (const std::string& l : more) all += l;
                if (all.find("((SEG: EndText))") != std::string::npos) break;
            }
        }
        dataOffset_ = static_cast<int64_t>(header_.size());
        std::string text, cards;
        for (const std::string& l : lines) {
            text += Trim(l) + "\n";
            cards += CardContent(l) + "\n";
        }
        a_.native.text = text;
        text_.reset(new KeyValueText(file_.path(), cards, ':'));
    }

    // Samples per trace (binary header, else the first trace header) against
    // the file size, then the number of whole traces.
    void ReadSamplesAndTraces(const Header& bin) {
        const int64_t room = file_.size() - dataOffset_;
        if (room < kTraceHeaderBytes) {
            file_.Fail("traces", "no trace after the " + std::to_string(dataOffset_) + " bytes of headers",
                       dataOffset_);
        }
        int64_t samples = bin.Unsigned(SEGY_BIN_SAMPLES);
        const std::vector<uint8_t> first = file_.ReadBytes(dataOffset_, kTraceHeaderBytes, "trace header");
        const int64_t inTrace = Header(first.data(), false, big_).Unsigned(SEGY_TR_SAMPLE_COUNT);
        auto record = [&](int64_t n) { return kTraceHeaderBytes + n * bytes_; };
        if (samples == 0) {
            if (inTrace == 0) {
                file_.Fail("samples", "0 samples per trace in the binary header (SEG-Y bytes 3221-3222) "
                                      "and in the first trace header", At(SEGY_BIN_SAMPLES));
            }
            samples = inTrace;
            a_.warnings.push_back("samples per trace taken from the first trace header (the binary header gives 0)");
        } else if (inTrace > 0 && inTrace != samples) {
            // The count that divides the data into whole traces wins.
            if (room % record(samples) != 0 && room % record(inTrace) == 0) {
                a_.warnings.push_back("the binary header's " + std::to_string(samples) +
                                      " samples per trace do not divide the data into whole traces; the "
                                      "first trace header's " + std::to_string(inTrace) + " do and are used");
                samples = inTrace;
            } else {
                a_.warnings.push_back("the first trace header gives " + std::to_string(inTrace) +
                                      " samples per trace, the binary header " + std::to_string(samples) +
                                      "; the binary header's are used");
            }
        }
        recordBytes_ = record(samples);
        if (room < recordBytes_) {
            file_.Fail("samples", std::to_string(samples) + " samples per trace (SEG-Y bytes 3221-3222) make a " +
                                      std::to_string(recordBytes_) + "-byte trace, more than the " +
                                      std::to_string(room) + " bytes after the headers",
                       At(SEGY_BIN_SAMPLES));
        }
        a_.samples = static_cast<int32_t>(samples);
        a_.traces = room / recordBytes_;
        if (room % recordBytes_ != 0) {
            a_.warnings.push_back("the last " + std::to_string(room % recordBytes_) +
                                  " bytes are a partial trace and are left out");
        }
    }

    // Every trace header, and the fields of each that positions are made
    // of. Short records are read in bounded runs of whole records, long ones
    // a header at a time (reading their samples would cost more than the
    // extra reads).
    void ReadTraceHeaders() {
        const int64_t traces = a_.traces;
        a_.native.traceHeaders.resize(static_cast<size_t>(traces * kTraceHeaderBytes));
        fields_.resize(static_cast<size_t>(traces));
        const int64_t perRead =
            recordBytes_ > kRunRecordBytes ? 1 : std::max<int64_t>(1, kChunkBytes / recordBytes_);
        std::vector<uint8_t> buf;
        for (int64_t t = 0; t < traces; t += perRead) {
            const int64_t n = std::min(perRead, traces - t);
            buf.resize(static_cast<size_t>((n - 1) * recordBytes_ + kTraceHeaderBytes));
            file_.ReadAt(dataOffset_ + t * recordBytes_, buf.data(), static_cast<int64_t>(buf.size()), "trace header");
            for (int64_t k = 0; k < n; ++k) {
                const uint8_t* stored = buf.data() + k * recordBytes_;
                std::memcpy(&a_.native.traceHeaders[static_cast<size_t>((t + k) * kTraceHeaderBytes)], stored,
                            static_cast<size_t>(kTraceHeaderBytes));
                const Header h(stored, false, big_);
                TraceFields& f = fields_[static_cast<size_t>(t + k)];
                f.x[0] = h.Get(SEGY_TR_SOURCE_X);
                f.y[0] = h.Get(SEGY_TR_SOURCE_Y);
                f.x[1] = h.Get(SEGY_TR_CDP_X);
                f.y[1] = h.Get(SEGY_TR_CDP_Y);
                f.coordinateScalar = h.Get(SEGY_TR_SOURCE_GROUP_SCALAR);
                f.elevation = h.Get(SEGY_TR_RECV_GROUP_ELEV);
                f.elevationScalar = h.Get(SEGY_TR_ELEV_SCALAR);
                f.time = {static_cast<int16_t>(h.Get(SEGY_TR_YEAR_DATA_REC)),
                          static_cast<int16_t>(h.Get(SEGY_TR_DAY_OF_YEAR)),
                          static_cast<int16_t>(h.Get(SEGY_TR_HOUR_OF_DAY)),
                          static_cast<int16_t>(h.Get(SEGY_TR_MIN_OF_HOUR)),
                          static_cast<int16_t>(h.Get(SEGY_TR_SEC_OF_MIN)),
                          static_cast<int16_t>(h.Get(SEGY_TR_TIME_BASE_CODE))};
                if (t + k == 0) {
                    intervalInTrace_ = h.Unsigned(SEGY_TR_SAMPLE_INTER);
                    delay_ = ApplyScalar(h.Get(SEGY_TR_DELAY_REC_TIME), h.Get(SEGY_TR_SCALAR_TRACE_HEADER));
                    delayStep_ = ApplyScalar(1.0, h.Get(SEGY_TR_SCALAR_TRACE_HEADER));
                    a_.stacks = std::max(0, h.Get(SEGY_TR_SUMMED_TRACES));
                }
            }
        }
    }

    // The interval field in the caller's unit, the text header's, or the one
    // that gives a plausible GPR interval.
    void ReadInterval(const Header& bin) {
        int64_t v = bin.Unsigned(SEGY_BIN_INTERVAL);
        std::string where = "binary header interval";
        if (v == 0) {
            v = intervalInTrace_;
            where = "first trace header interval";
        }
        if (v == 0) {
            a_.warnings.push_back("no sample interval: the binary and first trace headers give 0");
            return;
        }
        const KeyValueText& text = *text_;
        std::string how;
        switch (options_.segyIntervalUnit) {
            case ReadOptions::TimeUnit::kMicroseconds: unit_ = Unit::kUs; how = " (unit given by the caller)"; break;
            case ReadOptions::TimeUnit::kNanoseconds: unit_ = Unit::kNs; how = " (unit given by the caller)"; break;
            case ReadOptions::TimeUnit::kPicoseconds: unit_ = Unit::kPs; how = " (unit given by the caller)"; break;
            case ReadOptions::TimeUnit::kAuto:
                if (!UnitFromText(text.Text(kKeyUnit), &unit_)) SniffUnit(v, where);
                break;
        }
        a_.sampleIntervalNs = ToNs(static_cast<double>(v), unit_);
        a_.sampleIntervalSource = where + " " + std::to_string(v) + " read as " + UnitName(unit_) + how;
        // This library's writer also states the exact interval, which the
        // integer field may only approximate.
        const double stated = text.Number(kKeyInterval);
        if (stated > 0.0 && stated != a_.sampleIntervalNs &&
            std::fabs(FromNs(stated, unit_) - static_cast<double>(v)) <= 0.5) {
            a_.sampleIntervalNs = stated;
            a_.sampleIntervalSource = "text header " + std::string(kKeyInterval) + " (" + where + " " +
                                      std::to_string(v) + " " + UnitName(unit_) + ")";
        }
    }

    void SniffUnit(int64_t v, const std::string& where) {
        int plausible = 0;
        double best = std::numeric_limits<double>::infinity();
        for (Unit u : {Unit::kUs, Unit::kNs, Unit::kPs}) {
            const double ns = ToNs(static_cast<double>(v), u);
            plausible += ns >= kMinIntervalNs && ns <= kMaxIntervalNs;
            const double distance = std::fabs(std::log(ns / kTypicalIntervalNs));
            if (distance < best) {
                best = distance;
                unit_ = u;
            }
        }
        if (plausible != 1) {
            a_.warnings.push_back(where + " " + std::to_string(v) + " read as " + UnitName(unit_) + ": a guess (" +
                                  (plausible == 0 ? "no" : "more than one") +
                                  " of us, ns and ps gives a GPR interval of 0.005 to 20 ns); "
                                  "set the unit through ReadOptions::segyIntervalUnit");
        }
    }

    // Time zero from the first trace's delay recording time, which GPR
    // writers store in the interval's unit; the exact value this library's
    // writer states when the field agrees with it.
    void ReadTimeZero() {
        const double dt = a_.sampleIntervalNs;
        if (!(dt > 0.0)) return;
        a_.timeZeroSample = 1.0 - ToNs(delay_, unit_) / dt;
        const double stated = text_->Number(kKeyTimeZero);
        if (std::fabs(FromNs((1.0 - stated) * dt, unit_) - delay_) <= delayStep_) a_.timeZeroSample = stated;
        a_.firstSampleTimeNs = (1.0 - a_.timeZeroSample) * dt;
    }

    // Positions from source x/y, else CDP x/y, when they vary; the trace
    // spacing from them unless the text header states another. Coordinates
    // that do not vary are a fixed place when they are not zero (a sounding
    // in one spot, or a receiver that kept one fix): kept, with no distance
    // along the line.
    void ReadPositions(const Header& bin) {
        const int64_t traces = a_.traces;
        int pair = -1;
        for (int p = 0; p < 2 && pair < 0; ++p) {
            for (const TraceFields& f : fields_) {
                if (f.x[p] != fields_[0].x[p] || f.y[p] != fields_[0].y[p]) {
                    pair = p;
                    break;
                }
            }
        }
        const bool stated = !std::isnan(a_.traceSpacingM);
        const bool fixed = pair < 0;
        if (fixed) {
            if (!stated) a_.warnings.push_back("trace spacing unknown: the trace headers' coordinates do not vary");
            for (int p = 0; p < 2 && pair < 0; ++p) {
                if (fields_[0].x[p] != 0 || fields_[0].y[p] != 0) pair = p;
            }
            if (pair < 0) return;
        }
        const int32_t units = Header(&a_.native.traceHeaders[0], false, big_).Get(SEGY_TR_COORD_UNITS);
        a_.geographic = units == 2 || units == 3;
        const bool feet = !a_.geographic && bin.Get(SEGY_BIN_MEASUREMENT_SYSTEM) == 2;
        if (feet) a_.positionUnit = "ft";
        const double unitFactor = a_.geographic ? (units == 2 ? 1.0 / 3600.0 : 1.0) : feet ? kFoot : 1.0;
        auto place = [&](bool asDivisor) {
            std::vector<Coordinate> c(static_cast<size_t>(traces));
            for (int64_t t = 0; t < traces; ++t) {
                const TraceFields& f = fields_[static_cast<size_t>(t)];
                c[static_cast<size_t>(t)].x = ApplyScalar(f.x[pair], f.coordinateScalar, asDivisor) * unitFactor;
                c[static_cast<size_t>(t)].y = ApplyScalar(f.y[pair], f.coordinateScalar, asDivisor) * unitFactor;
            }
            return c;
        };
        auto path = [&](const std::vector<Coordinate>& c) {
            std::vector<double> along(c.size(), 0.0);
            for (size_t t = 1; t < c.size(); ++t) along[t] = along[t - 1] + Distance(c[t - 1], c[t], a_.geographic);
            return along;
        };
        bool asDivisor = false;
        std::vector<Coordinate> coords = place(false);
        std::vector<double> along = path(coords);
        double spacing = fixed ? 0.0 : along.back() / static_cast<double>(traces - 1);
        // Some GPR writers use a positive scalar as a divisor; GPR traces
        // are never tens of metres apart.
        const int32_t scalar = fields_[0].coordinateScalar;
        if (!a_.geographic && scalar > 1 && StandardScalar(scalar) && spacing > 50.0) {
            asDivisor = true;
            coords = place(true);
            along = path(coords);
            a_.warnings.push_back("coordinate scalar " + std::to_string(scalar) +
                                  " (trace bytes 71-72) read as a divisor: as the standard's multiplier it "
                                  "would put traces " + FormatNumber(spacing) + " m apart");
            spacing = along.back() / static_cast<double>(traces - 1);
        }
        bool elevations = false;
        for (const TraceFields& f : fields_) elevations = elevations || f.elevation != 0;
        if (elevations) {
            a_.elevationsM.resize(static_cast<size_t>(traces));
            for (int64_t t = 0; t < traces; ++t) {
                const TraceFields& f = fields_[static_cast<size_t>(t)];
                const double z = ApplyScalar(f.elevation, f.elevationScalar, asDivisor) * (feet ? kFoot : 1.0);
                a_.elevationsM[static_cast<size_t>(t)] = z;
                coords[static_cast<size_t>(t)].z = z;
            }
        }
        a_.coordinates = std::move(coords);
        if (fixed) return;
        a_.tracePositionsM = std::move(along);
        if (stated && a_.traceSpacingM != spacing) return;
        a_.traceSpacingM = spacing;
        a_.traceSpacingSource = std::string("mean distance between trace ") + (pair == 0 ? "source" : "CDP") +
                                " coordinates";
    }

    // Each trace's recording time from its year, day of year, hour, minute
    // and second, when any trace has one. Traces without one, or with
    // fields out of range, get no time; the latter are reported, as are
    // times that the time basis code says are not UTC.
    void ReadTraceTimes() {
        std::vector<TraceTime> times(fields_.size());
        bool any = false, local = false, other = false, utc = false;
        int64_t faulty = 0, firstFaulty = 0;
        std::string fault;
        for (size_t t = 0; t < fields_.size(); ++t) {
            const TimeFields& f = fields_[t].time;
            if (f.year == 0) continue;
            const std::string what = TimeFault(f);
            if (!what.empty()) {
                if (faulty++ == 0) {
                    firstFaulty = static_cast<int64_t>(t);
                    fault = what;
                }
                continue;
            }
            times[t].date = DateFromDays(NewYear(f.year) + f.day - 1);
            times[t].secondOfDay = f.hour * 3600.0 + f.minute * 60.0 + f.second;
            any = true;
            local = local || f.basis == 1;
            other = other || f.basis == 3;
            utc = utc || f.basis == 2 || f.basis == 4;
        }
        if (faulty > 0) {
            a_.warnings.push_back(std::to_string(faulty) +
                                  (faulty == 1 ? " trace has a recording time" : " traces have recording times") +
                                  " out of range (trace bytes 157-166; trace " + std::to_string(firstFaulty) +
                                  " gives " + fault + "); " + (faulty == 1 ? "it has" : "they have") + " no time");
        }
        if (!any) return;
        if (local) a_.warnings.push_back("trace recording times are local time, not UTC (trace bytes 167-168)");
        if (other) {
            a_.warnings.push_back("trace recording times are of an unnamed time basis (code 3), not UTC "
                                  "(trace bytes 167-168)");
        }
        a_.traceTimes = std::move(times);
        // One basis for the record, where the traces agree on one.
        a_.traceTimeBasis = utc && !local && !other ? "UTC" : local && !utc && !other ? "local" : "";
    }

    // Facts this library's writer states in the text header.
    void ReadTextFacts() {
        const KeyValueText& text = *text_;
        a_.antennaName = text.Text(kKeyAntenna);
        a_.antennaFrequencyMHz = text.Number(kKeyFrequency);
        a_.antennaSeparationM = text.Number(kKeySeparation);
        const double spacing = text.Number(kKeySpacing);
        if (spacing > 0.0) {
            a_.traceSpacingM = spacing;
            a_.traceSpacingSource = "text header " + std::string(kKeySpacing);
        }
        if (std::isnan(a_.antennaFrequencyMHz)) a_.warnings.push_back("antenna frequency unknown: the file does not state it");
        if (std::isnan(a_.antennaSeparationM)) a_.warnings.push_back("antenna separation unknown: the file does not state it");
    }

    const InputFile& file_;
    const ReadOptions& options_;
    Acquisition a_;
    std::vector<uint8_t> header_;
    std::unique_ptr<KeyValueText> text_;  // the text headers' "KEY: value" lines
    std::vector<TraceFields> fields_;
    bool big_ = true;
    int bytes_ = 0;
    int64_t dataOffset_ = 0;
    int64_t recordBytes_ = 0;
    int64_t intervalInTrace_ = 0;
    double delay_ = 0.0;      // first trace's delay recording time, unit_
    double delayStep_ = 1.0;  // its resolution
    Unit unit_ = Unit::kPs;
};

// ---- writer -----------------------------------------------------------------

// The first of the standard's scalars at which values up to maxAbs fit a
// field of that limit: the finest (divisors first) or, for fields that
// readers often take unscaled, the coarsest needed (1 first). 0 when none.
int32_t ChooseScalar(double maxAbs, double limit, bool finest) {
    static const int32_t kFinest[] = {-10000, -1000, -100, -10, 1, 10, 100, 1000, 10000};
    for (int32_t s : kFinest) {
        if ((finest || s > 0) && UnapplyScalar(maxAbs, s) <= limit) return s;
    }
    return 0;
}

// Time basis code of trace bytes 167-168: UTC, local, or not stated.
int16_t TimeBasisCode(const std::string& basis) { return basis == "UTC" ? 4 : basis == "local" ? 1 : 0; }

int32_t Scaled(double v, int32_t scalar) { return static_cast<int32_t>(UnapplyScalar(v, scalar)); }

class SegyWriter : public FormatWriter {
public:
    SegyWriter(const Acquisition& a, SampleType type) : a_(a), type_(type) {
        auto fail = [](const std::string& field, const std::string& what) {
            throw SurveyError("", field, what);
        };
        if (a_.samples < 1 || a_.samples > 65535) {
            fail("samples", "SEG-Y holds 1 to 65535 samples per trace, not " + std::to_string(a_.samples));
        }
        const double dt = a_.sampleIntervalNs;
        if (!(dt > 0.0) || !std::isfinite(dt)) fail("sample interval", "no positive sample interval to write");
        // The finest unit whose interval field holds dt.
        for (Unit u : {Unit::kPs, Unit::kNs, Unit::kUs}) {
            const double v = std::floor(FromNs(dt, u) + 0.5);
            if (v >= 1.0 && v <= 65535.0) {
                unit_ = u;
                interval_ = static_cast<int32_t>(v);
                break;
            }
        }
        if (interval_ == 0) fail("sample interval", FormatNumber(dt) + " ns does not fit SEG-Y's interval field");
        // The delay (time of the first sample) in the interval's unit,
        // whole (the text header states time zero exactly).
        delay_ = std::isfinite(a_.timeZeroSample) ? FromNs((1.0 - a_.timeZeroSample) * dt, unit_) : 0.0;
        if (delay_ != 0.0) {
            timeScalar_ = ChooseScalar(std::fabs(delay_), 32767.0, false);
            if (timeScalar_ == 0) {
                fail("time zero", "time zero sample " + FormatNumber(a_.timeZeroSample) +
                                      " is too far from the first sample for SEG-Y's delay field");
            }
        }
        const NativeHeader& n = a_.native;
        native_ = n.format == Format::kSegy && n.fileHeader.size() >= static_cast<size_t>(kHeaderBytes) &&
                  (n.fileHeader.size() - kHeaderBytes) % kTextBytes == 0;
        if (native_) nativeBig_ = SniffBigEndian(&n.fileHeader[kTextBytes], std::numeric_limits<int64_t>::max());
        dataOffset_ = native_ ? static_cast<int64_t>(n.fileHeader.size()) : kHeaderBytes;
        if ((dataOffset_ - kHeaderBytes) / kTextBytes > 32767) {
            fail("extended textual header count", "more extended textual headers than SEG-Y can count");
        }
        ChoosePositions();
        ChooseTimes();
    }

    TraceLayout Layout() const override {
        TraceLayout l;
        l.dataOffset = dataOffset_;
        l.headerBytes = kTraceHeaderBytes;
        l.recordBytes = kTraceHeaderBytes + int64_t{a_.samples} * SampleTypeBytes(type_);
        l.channels = 1;
        l.samples = a_.samples;
        l.type = type_;
        l.bigEndian = true;
        return l;
    }

    std::vector<uint8_t> FileHeader(int64_t scans) override {
        scans_ = scans;
        std::vector<uint8_t> out(static_cast<size_t>(dataOffset_), 0);
        std::vector<std::string> lines;
        if (native_) {
            lines = TextLines(a_.native.fileHeader.data(), kTextBytes);
            std::memcpy(&out[kTextBytes], &a_.native.fileHeader[kTextBytes], static_cast<size_t>(kBinaryBytes));
            if (!nativeBig_) SwapFields(&out[kTextBytes], true);
            for (int64_t off = kHeaderBytes; off < dataOffset_; off += kTextBytes) {
                EncodeEbcdic(TextLines(&a_.native.fileHeader[static_cast<size_t>(off)], kTextBytes),
                             &out[static_cast<size_t>(off)]);
            }
        } else {
            lines.assign(kTextLines, "");
            lines[0] = "GPR PROFILE, " + std::to_string(scans) + " TRACES OF " + std::to_string(a_.samples) +
                       " SAMPLES";
            lines[kTextLines - 2] = "SEG Y REV1";
            lines[kTextLines - 1] = "END TEXTUAL HEADER";
            for (int l = 0; l < kTextLines; ++l) lines[static_cast<size_t>(l)] = CardPrefix(l) + lines[static_cast<size_t>(l)];
        }
        StateFacts(&lines);
        EncodeEbcdic(lines, out.data());
        uint8_t* bin = &out[kTextBytes];
        SetBinary(bin, SEGY_BIN_INTERVAL, interval_);
        SetBinary(bin, SEGY_BIN_SAMPLES, a_.samples);
        SetBinary(bin, SEGY_BIN_FORMAT, type_ == SampleType::kI16   ? SEGY_SIGNED_SHORT_2_BYTE
                                        : type_ == SampleType::kI32 ? SEGY_SIGNED_INTEGER_4_BYTE
                                                                    : SEGY_IEEE_FLOAT_4_BYTE);
        SetBinary(bin, SEGY_BIN_SEGY_REVISION, kRevision1);
        SetBinary(bin, SEGY_BIN_TRACE_FLAG, 1);
        SetBinary(bin, SEGY_BIN_EXT_HEADERS, static_cast<int32_t>((dataOffset_ - kHeaderBytes) / kTextBytes));
        if (!native_) {
            SetBinary(bin, SEGY_BIN_INTERVAL_ORIG, interval_);
            SetBinary(bin, SEGY_BIN_SAMPLES_ORIG, a_.samples);
            SetBinary(bin, SEGY_BIN_MEASUREMENT_SYSTEM, a_.positionUnit == "ft" ? 2 : 1);
        }
        return out;
    }

    void TraceHeader(int64_t scan, int32_t, uint8_t* out) const override {
        const std::vector<uint8_t>& stored = a_.native.traceHeaders;
        if (native_ && a_.native.traceHeaderBytes == kTraceHeaderBytes &&
            static_cast<int64_t>(stored.size()) == scans_ * kTraceHeaderBytes) {
            std::memcpy(out, &stored[static_cast<size_t>(scan * kTraceHeaderBytes)], static_cast<size_t>(kTraceHeaderBytes));
            if (!nativeBig_) SwapFields(out, false);
        } else {
            FillTraceHeader(scan, out);
        }
        SetTrace(out, SEGY_TR_SAMPLE_COUNT, a_.samples);
        SetTrace(out, SEGY_TR_SAMPLE_INTER, interval_);
        SetTrace(out, SEGY_TR_DELAY_REC_TIME, Scaled(delay_, timeScalar_));
        SetTrace(out, SEGY_TR_SCALAR_TRACE_HEADER, delay_ == 0.0 ? 0 : timeScalar_);
    }

private:
    // Writes this library's facts into the text lines: over a line that
    // states the same key (as the reader finds keys), else into a blank
    // line, else over the last ones. Time zero is always stated, so that no
    // earlier statement of it outlives a change.
    void StateFacts(std::vector<std::string>* lines) const {
        std::vector<std::pair<std::string, std::string>> facts = {
            {kKeyUnit, unit_ == Unit::kPs ? "PS" : unit_ == Unit::kNs ? "NS" : "US"},
            {kKeyInterval, FormatNumber(a_.sampleIntervalNs)}};
        if (!a_.antennaName.empty()) facts.emplace_back(kKeyAntenna, a_.antennaName);
        if (std::isfinite(a_.antennaFrequencyMHz)) facts.emplace_back(kKeyFrequency, FormatNumber(a_.antennaFrequencyMHz));
        if (std::isfinite(a_.antennaSeparationM)) facts.emplace_back(kKeySeparation, FormatNumber(a_.antennaSeparationM));
        if (std::isfinite(a_.traceSpacingM)) facts.emplace_back(kKeySpacing, FormatNumber(a_.traceSpacingM));
        if (std::isfinite(a_.timeZeroSample)) facts.emplace_back(kKeyTimeZero, FormatNumber(a_.timeZeroSample));
        std::vector<bool> used(lines->size(), false);
        int fallback = kTextLines - 3;  // above "SEG Y REV1" and "END TEXTUAL HEADER"
        for (const auto& fact : facts) {
            int target = -1;
            for (int l = 0; l < kTextLines && target < 0; ++l) {
                const std::string& line = (*lines)[static_cast<size_t>(l)];
                if (!used[static_cast<size_t>(l)] && KeyValueText("", CardContent(line), ':').Has(fact.first)) target = l;
            }
            for (int l = 1; l < kTextLines && target < 0; ++l) {
                if (!used[static_cast<size_t>(l)] && Trim(CardContent((*lines)[static_cast<size_t>(l)])).empty()) target = l;
            }
            while (target < 0 && used[static_cast<size_t>(fallback)]) --fallback;
            if (target < 0) target = fallback--;
            used[static_cast<size_t>(target)] = true;
            std::string line = CardPrefix(target) + fact.first + ": " + fact.second;
            line.resize(std::min<size_t>(line.size(), kLineChars));
            (*lines)[static_cast<size_t>(target)] = line;
        }
    }

    // Positions for headers built from the facts: coordinates, else
    // positions along the line, else multiples of the trace spacing.
    void ChoosePositions() {
        const int64_t traces = a_.traces;
        // Geographic positions go out in arc seconds, the others in the
        // record's length unit, elevations always in that length unit.
        zUnit_ = a_.positionUnit == "ft" ? 1.0 / kFoot : 1.0;
        const double toUnit = a_.geographic ? 3600.0 : zUnit_;
        x_.clear();
        if (static_cast<int64_t>(a_.coordinates.size()) == traces) {
            for (const Coordinate& c : a_.coordinates) {
                if (!std::isfinite(c.x) || !std::isfinite(c.y)) {
                    x_.clear();
                    break;
                }
                x_.push_back(c.x * toUnit);
                y_.push_back(c.y * toUnit);
            }
        }
        if (x_.empty() && static_cast<int64_t>(a_.tracePositionsM.size()) == traces) {
            for (double p : a_.tracePositionsM) x_.push_back(std::isfinite(p) ? p * toUnit : 0.0);
        }
        if (x_.empty() && std::isfinite(a_.traceSpacingM)) {
            for (int64_t t = 0; t < traces; ++t) x_.push_back(static_cast<double>(t) * a_.traceSpacingM * toUnit);
        }
        y_.resize(x_.size(), 0.0);
        double maxAbs = 0.0;
        for (size_t t = 0; t < x_.size(); ++t) maxAbs = std::max({maxAbs, std::fabs(x_[t]), std::fabs(y_[t])});
        coordinateScalar_ = ChooseScalar(maxAbs, 2147483647.0, true);
        if (coordinateScalar_ == 0) x_.clear(), y_.clear();
        if (static_cast<int64_t>(a_.elevationsM.size()) == traces) {
            double maxZ = 0.0;
            for (double z : a_.elevationsM) maxZ = std::max(maxZ, std::isfinite(z) ? std::fabs(z * zUnit_) : 0.0);
            elevationScalar_ = ChooseScalar(maxZ, 2147483647.0, true);
        }
    }

    // Recording-time fields for headers built from the facts, for the traces
    // that have an entry: whole seconds (the header has no finer field), with
    // the record's time basis (none stated where it has none).
    // Entries without a date or a time stay all zero ("not recorded"); the
    // writer's caller has checked that dates are days and times within one.
    void ChooseTimes() {
        times_.clear();
        if (a_.traceTimes.empty()) return;
        times_.resize(std::min(a_.traceTimes.size(), static_cast<size_t>(a_.traces)), TimeFields{0, 0, 0, 0, 0, 0});
        for (size_t t = 0; t < times_.size(); ++t) {
            const TraceTime& time = a_.traceTimes[t];
            if (!ValidDate(time.date) || !WithinDay(time.secondOfDay)) continue;
            const int year = time.date / 10000;
            const int day = static_cast<int>(DaysFromDate(time.date) - NewYear(year)) + 1;
            // 86400 up to 86401 is a leap second, 23:59:60.
            const int whole = std::min(static_cast<int>(time.secondOfDay), 86399);
            const int second = whole % 60 + static_cast<int>(time.secondOfDay) - whole;
            times_[t] = {static_cast<int16_t>(year),
                         static_cast<int16_t>(day),
                         static_cast<int16_t>(whole / 3600),
                         static_cast<int16_t>(whole / 60 % 60),
                         static_cast<int16_t>(second),
                         TimeBasisCode(a_.traceTimeBasis)};
        }
    }

    void FillTraceHeader(int64_t scan, uint8_t* out) const {
        const int32_t seq = static_cast<int32_t>(std::min<int64_t>(scan + 1, 2147483647));
        SetTrace(out, SEGY_TR_SEQ_LINE, seq);
        SetTrace(out, SEGY_TR_SEQ_FILE, seq);
        SetTrace(out, SEGY_TR_TRACE_ID, 1);
        SetTrace(out, SEGY_TR_DATA_USE, 1);
        if (a_.stacks > 0) SetTrace(out, SEGY_TR_SUMMED_TRACES, std::min(a_.stacks, 32767));
        const size_t t = static_cast<size_t>(scan);
        if (t < x_.size()) {
            SetTrace(out, SEGY_TR_SOURCE_GROUP_SCALAR, coordinateScalar_);
            SetTrace(out, SEGY_TR_COORD_UNITS, a_.geographic ? 2 : 1);
            for (int field : {SEGY_TR_SOURCE_X, SEGY_TR_GROUP_X, SEGY_TR_CDP_X}) SetTrace(out, field, Scaled(x_[t], coordinateScalar_));
            for (int field : {SEGY_TR_SOURCE_Y, SEGY_TR_GROUP_Y, SEGY_TR_CDP_Y}) SetTrace(out, field, Scaled(y_[t], coordinateScalar_));
        }
        if (elevationScalar_ != 0 && t < a_.elevationsM.size()) {
            const double z = a_.elevationsM[t] * zUnit_;
            SetTrace(out, SEGY_TR_ELEV_SCALAR, elevationScalar_);
            SetTrace(out, SEGY_TR_RECV_GROUP_ELEV, std::isfinite(z) ? Scaled(z, elevationScalar_) : 0);
        }
        if (t < times_.size() && times_[t].year != 0) {
            const TimeFields& f = times_[t];
            SetTrace(out, SEGY_TR_YEAR_DATA_REC, f.year);
            SetTrace(out, SEGY_TR_DAY_OF_YEAR, f.day);
            SetTrace(out, SEGY_TR_HOUR_OF_DAY, f.hour);
            SetTrace(out, SEGY_TR_MIN_OF_HOUR, f.minute);
            SetTrace(out, SEGY_TR_SEC_OF_MIN, f.second);
            SetTrace(out, SEGY_TR_TIME_BASE_CODE, f.basis);
        }
    }

    const Acquisition a_;
    const SampleType type_;
    Unit unit_ = Unit::kPs;
    int32_t interval_ = 0;
    double delay_ = 0.0;  // time of the first sample, unit_
    int32_t timeScalar_ = 1;
    bool native_ = false;
    bool nativeBig_ = true;
    int64_t dataOffset_ = kHeaderBytes;
    int64_t scans_ = 0;
    std::vector<double> x_, y_;  // per trace, in the header's unit
    int32_t coordinateScalar_ = 0;
    int32_t elevationScalar_ = 0;
    double zUnit_ = 1.0;  // metres to the header's length unit
    std::vector<TimeFields> times_;  // per trace, or empty
};

}  // namespace

Parsed ParseSegy(const InputFile& file, const ReadOptions& options) { return Reader(file, options).Parse(); }

std::unique_ptr<FormatWriter> MakeSegyWriter(const std::vector<Acquisition>& channels, SampleType type) {
    if (channels.size() != 1) {
        throw SurveyError("", "channels", "SEG-Y files hold one channel, not " + std::to_string(channels.size()));
    }
    if (type != SampleType::kI16 && type != SampleType::kI32 && type != SampleType::kF32) {
        throw SurveyError("", "sample type", std::string("SEG-Y output holds i16, i32 or f32 samples, not ") +
                                                 SampleTypeName(type));
    }
    return std::unique_ptr<FormatWriter>(new SegyWriter(channels.front(), type));
}

}  // namespace internal
}  // namespace survey
}  // namespace vantir3
