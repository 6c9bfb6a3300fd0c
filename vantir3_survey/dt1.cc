// DT1 files: 128-byte trace headers (25 little-endian f32 words and a
// comment) before each trace's samples, an .HD text companion with the
// acquisition facts ("KEY = value" lines) and, when recorded, a .GPS
// companion of NMEA fixes, each after a line "Trace #N at position P".
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "vantir3_survey/format_io.h"
#include "vantir3_survey/nmea.h"
#include "vantir3_survey/text_header.h"
#include "vantir3_survey/trace_time.h"

namespace vantir3 {
namespace survey {
namespace internal {

namespace {

constexpr int64_t kTraceHeaderBytes = 128;
constexpr double kMetresPerFoot = 0.3048;
// Trace header words.
constexpr int kWordTrace = 0, kWordPosition = 1, kWordPoints = 2, kWordElevation = 3,
              kWordBytesPerPoint = 5, kWordWindow = 6, kWordStacks = 7, kWordTimeOfDay = 23;
// Bytes of trace headers gathered per read at open.
constexpr int64_t kChunkBytes = 8 << 20;

float Word(const uint8_t* header, int word) {
    const uint8_t* p = header + 4 * word;
    const uint32_t bits = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

void SetWord(uint8_t* header, int word, double value) {
    const float f = static_cast<float>(value);
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    uint8_t* p = header + 4 * word;
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// Metres per unit of the HD's POSITION UNITS; sets the reported unit.
double PositionFactor(const KeyValueText& hd, Acquisition& a) {
    const std::string unit = Lower(hd.Text("POSITION UNITS"));
    if (unit == "ft" || unit == "feet" || unit == "foot") {
        a.positionUnit = "ft";
        return kMetresPerFoot;
    }
    a.positionUnit = "m";
    if (unit != "m" && unit != "metres" && unit != "meters" && unit != "metre" && unit != "meter") {
        a.warnings.push_back("POSITION UNITS '" + hd.Text("POSITION UNITS") +
                             "' not recognised; positions taken as metres");
    }
    return 1.0;
}

// The facts of the .HD text that do not depend on the binary file.
void ReadHdFacts(const KeyValueText& hd, int32_t samples, Acquisition& a) {
    const double window = hd.Number("TOTAL TIME WINDOW");
    a.timeWindowNs = window;
    if (window > 0.0) {
        a.sampleIntervalNs = window / samples;
        a.sampleIntervalSource = "TOTAL TIME WINDOW / NUMBER OF PTS/TRC";
    } else {
        a.warnings.push_back("TOTAL TIME WINDOW missing or not positive: the sample interval is unknown");
    }
    const double tz = hd.Number("TIMEZERO AT POINT");
    if (!std::isfinite(tz)) {
        a.warnings.push_back("TIMEZERO AT POINT missing or not finite: time zero taken at the first sample");
    } else {
        a.timeZeroSample = tz;
    }
    a.firstSampleTimeNs = std::isnan(a.sampleIntervalNs) ? 0.0 : (1.0 - a.timeZeroSample) * a.sampleIntervalNs;

    const double factor = PositionFactor(hd, a);
    const double step = hd.Number("STEP SIZE USED");
    if (step > 0.0) {
        a.traceSpacingM = step * factor;
        a.traceSpacingSource = "STEP SIZE USED";
    } else {
        a.warnings.push_back("STEP SIZE USED missing or not positive: the trace spacing is unknown");
    }
    a.antennaFrequencyMHz = hd.Number("NOMINAL FREQUENCY");
    if (!(a.antennaFrequencyMHz > 0.0)) {
        a.antennaFrequencyMHz = kUnknown;
        a.warnings.push_back("NOMINAL FREQUENCY missing: the antenna frequency is unknown");
    }
    a.antennaSeparationM = hd.Number("ANTENNA SEPARATION") * factor;
    if (std::isnan(a.antennaSeparationM)) {
        a.warnings.push_back("ANTENNA SEPARATION missing: the antenna separation is unknown");
    }
    const double stacks = hd.Number("NUMBER OF STACKS");
    if (stacks >= 1.0 && stacks <= 1e9) a.stacks = static_cast<int32_t>(stacks);
}

// Bytes per point of one trace header (2 or 4).
int BytesPerPoint(const InputFile& file, const uint8_t* header, int64_t trace, int64_t offset,
                  std::vector<std::string>& warnings) {
    const float v = Word(header, kWordBytesPerPoint);
    if (v == 2.0f || v == 4.0f) return static_cast<int>(v);
    if (v == 0.0f) {
        // Older units leave the word unset; their samples are 16-bit.
        warnings.push_back("trace headers give no bytes per point: 16-bit samples assumed");
        return 2;
    }
    file.Fail("bytes per point", "trace " + std::to_string(trace + 1) + " gives " + FormatNumber(v) +
                                     " bytes per point (2 or 4 expected)", offset + 4 * kWordBytesPerPoint);
}

// The survey's day from the .HD's date line (the third line; the first
// lines are searched, as blank ones may come between): "yyyy-mm-dd" or
// "yyyy/mm/dd", or day, month and year in either order of the first two
// where one of them is above 12, perhaps followed by a time. 0 when there is none; a date whose order
// cannot be told is named in `ambiguous`.
int32_t HdDate(const std::string& text, std::string& ambiguous) {
    int nonEmpty = 0;
    for (const std::string& raw : SplitLines(text.substr(0, 1024))) {
        const std::string line = Trim(raw);
        if (line.empty()) continue;
        if (++nonEmpty > 3) break;
        int a = 0, b = 0, c = 0;
        char s1 = 0, s2 = 0, end = 0;
        // (A time of day may follow the date.)
        const int n = std::sscanf(line.c_str(), "%d%c%d%c%d%c", &a, &s1, &b, &s2, &c, &end);
        if (!(n == 5 || (n == 6 && (end == ' ' || end == 'T'))) || s1 != s2 ||
            (s1 != '-' && s1 != '/' && s1 != '.')) {
            continue;
        }
        // (Components beyond a date's digits are no date, and would overflow.)
        auto within = [](int v, int most) { return v >= 0 && v <= most; };
        if (a >= 1000) {
            if (!within(a, 9999) || !within(b, 99) || !within(c, 99)) continue;
            return ValidDate(a * 10000 + b * 100 + c) ? a * 10000 + b * 100 + c : 0;
        }
        if (c < 1000 || !within(c, 9999) || !within(a, 99) || !within(b, 99)) continue;
        const int32_t dayFirst = c * 10000 + b * 100 + a, monthFirst = c * 10000 + a * 100 + b;
        const bool dm = ValidDate(dayFirst), md = ValidDate(monthFirst);
        if (dm && md && a != b) {
            ambiguous = line;
            return 0;
        }
        return dm ? dayFirst : md ? monthFirst : 0;
    }
    return 0;
}

// The times of day of trace headers (word 23, seconds after midnight) on
// the .HD's day, a day later after each fall of more than half a day (the
// recording went past midnight). None when every word is 0 (not recorded);
// words that are not a time of day are counted in a warning.
std::vector<TraceTime> TraceTimes(const std::vector<float>& words, const std::string& hdText, Acquisition& a) {
    std::vector<TraceTime> times;
    if (std::all_of(words.begin(), words.end(), [](float w) { return w == 0.0f; })) return times;
    std::string ambiguous;
    const int32_t date = HdDate(hdText, ambiguous);
    if (!ambiguous.empty()) {
        a.warnings.push_back("the .HD date \"" + ambiguous + "\" may be day/month or month/day: the trace times " +
                             "have no day");
    }
    times.resize(words.size());
    int64_t day = date != 0 ? DaysFromDate(date) : 0, bad = 0;
    double previous = kUnknown;
    for (size_t t = 0; t < words.size(); ++t) {
        const double w = words[t];
        if (!WithinDay(w)) {
            ++bad;
            continue;
        }
        if (w < previous - 43200.0) ++day;
        previous = w;
        times[t] = {date != 0 ? DateFromDays(day) : 0, w};
    }
    if (bad > 0) {
        a.warnings.push_back(std::to_string(bad) + " trace header(s) give a time of day (word 23) that is none; " +
                             "those traces have no time");
    }
    return times;
}

}  // namespace

Parsed ParseDt1(const InputFile& file, const ReadOptions&) {
    const std::string hdPath = FindCompanion(file.path(), ".HD");
    if (hdPath.empty()) file.Fail(".HD", "the .HD header file beside it is missing");
    const std::string text = ReadTextFile(hdPath, 1 << 20);
    const KeyValueText hd(hdPath, text, '=');

    Acquisition a;
    uint8_t first[kTraceHeaderBytes];
    file.ReadAt(0, first, kTraceHeaderBytes, "trace header 1");
    const int bytes = BytesPerPoint(file, first, 0, 0, a.warnings);
    const SampleType type = bytes == 4 ? SampleType::kF32 : SampleType::kI16;

    // Points per trace must leave room for one whole trace in the file.
    const int64_t maxPoints = std::min<int64_t>(std::numeric_limits<int32_t>::max(),
                                                (file.size() - kTraceHeaderBytes) / bytes);
    const int64_t points = hd.Integer("NUMBER OF PTS/TRC", 1, std::numeric_limits<int32_t>::max());
    if (points > maxPoints) {
        hd.Fail("NUMBER OF PTS/TRC", std::to_string(points) + " points of " + std::to_string(bytes) +
                                         " bytes do not fit in the " + std::to_string(file.size()) +
                                         "-byte DT1 file");
    }
    a.samples = static_cast<int32_t>(points);
    const int64_t record = kTraceHeaderBytes + points * bytes;
    a.traces = file.size() / record;
    if (file.size() % record != 0) {
        a.warnings.push_back("the file ends with a partial trace of " + std::to_string(file.size() % record) +
                             " bytes; it was dropped");
    }
    const double declared = hd.Number("NUMBER OF TRACES");
    if (declared != static_cast<double>(a.traces)) {
        a.warnings.push_back("NUMBER OF TRACES is '" + hd.Text("NUMBER OF TRACES") + "' but the file holds " +
                             std::to_string(a.traces) + " traces; the file size counts");
    }
    ReadHdFacts(hd, a.samples, a);
    const double factor = a.positionUnit == "ft" ? kMetresPerFoot : 1.0;

    // Every trace header, read in bounded chunks (only the headers when
    // records are large).
    a.native.format = Format::kDt1;
    a.native.text = text;
    a.native.traceHeaderBytes = kTraceHeaderBytes;
    a.native.traceHeaders.resize(static_cast<size_t>(a.traces * kTraceHeaderBytes));
    a.tracePositionsM.resize(static_cast<size_t>(a.traces));
    std::vector<double> elevations(static_cast<size_t>(a.traces));
    std::vector<float> clock(static_cast<size_t>(a.traces));
    bool anyElevation = false;
    const int64_t perRead = std::max<int64_t>(1, kChunkBytes / record);
    std::vector<uint8_t> chunk;
    for (int64_t t = 0; t < a.traces; t += perRead) {
        const int64_t n = std::min(perRead, a.traces - t);
        chunk.resize(static_cast<size_t>((n - 1) * record + kTraceHeaderBytes));
        file.ReadAt(t * record, chunk.data(), static_cast<int64_t>(chunk.size()), "trace headers");
        for (int64_t k = 0; k < n; ++k) {
            const uint8_t* h = chunk.data() + k * record;
            const int64_t trace = t + k;
            if (Word(h, kWordBytesPerPoint) != Word(first, kWordBytesPerPoint)) {
                file.Fail("bytes per point",
                          "trace " + std::to_string(trace + 1) + " gives " + FormatNumber(Word(h, kWordBytesPerPoint)) +
                              " bytes per point, trace 1 gives " + FormatNumber(Word(first, kWordBytesPerPoint)),
                          trace * record + 4 * kWordBytesPerPoint);
            }
            std::memcpy(&a.native.traceHeaders[static_cast<size_t>(trace * kTraceHeaderBytes)], h,
                        kTraceHeaderBytes);
            a.tracePositionsM[static_cast<size_t>(trace)] = Word(h, kWordPosition) * factor;
            elevations[static_cast<size_t>(trace)] = Word(h, kWordElevation) * factor;
            anyElevation = anyElevation || Word(h, kWordElevation) != 0.0f;
            clock[static_cast<size_t>(trace)] = Word(h, kWordTimeOfDay);
        }
    }
    if (anyElevation) a.elevationsM = std::move(elevations);
    a.traceTimes = TraceTimes(clock, text, a);
    // The GPS log's positions and times (dated, or where the trace headers
    // give no dated ones); its altitudes where the trace headers give no
    // elevations.
    ApplyGpsTrack(ReadGpsLog(file.path(), ".GPS", a.traces, a.warnings), a);

    Parsed p;
    p.channels.push_back(std::move(a));
    p.layout.dataOffset = 0;
    p.layout.recordBytes = record;
    p.layout.headerBytes = kTraceHeaderBytes;
    p.layout.channels = 1;
    p.layout.samples = static_cast<int32_t>(points);
    p.layout.type = type;
    return p;
}

namespace {

class Dt1Writer : public FormatWriter {
public:
    Dt1Writer(const Acquisition& a, SampleType type)
        : a_(a), type_(type), native_(a.native.format == Format::kDt1 && !a.native.text.empty()) {
        // Built trace headers follow the unit of the HD that goes with them.
        if (native_) {
            Acquisition units;
            PositionFactor(KeyValueText("", a_.native.text, '='), units);
            factor_ = units.positionUnit == "ft" ? kMetresPerFoot : 1.0;
        }
    }

    TraceLayout Layout() const override {
        TraceLayout l;
        l.samples = a_.samples;
        l.type = type_;
        l.headerBytes = kTraceHeaderBytes;
        l.recordBytes = kTraceHeaderBytes + int64_t{a_.samples} * SampleTypeBytes(type_);
        return l;
    }

    std::vector<uint8_t> FileHeader(int64_t) override { return {}; }

    void TraceHeader(int64_t scan, int32_t, uint8_t* out) const override {
        const std::vector<uint8_t>& nativeHeaders = a_.native.traceHeaders;
        if (native_ && a_.native.traceHeaderBytes == kTraceHeaderBytes &&
            (scan + 1) * kTraceHeaderBytes <= static_cast<int64_t>(nativeHeaders.size())) {
            std::memcpy(out, &nativeHeaders[static_cast<size_t>(scan * kTraceHeaderBytes)], kTraceHeaderBytes);
            OverwriteChangedWords(scan, out);
        } else {
            SetWord(out, kWordTrace, static_cast<double>(scan + 1));
            SetWord(out, kWordPosition, Position(scan) / factor_);
            if (static_cast<size_t>(scan) < a_.elevationsM.size()) {
                SetWord(out, kWordElevation, a_.elevationsM[static_cast<size_t>(scan)] / factor_);
            }
            if (a_.sampleIntervalNs > 0.0) SetWord(out, kWordWindow, a_.sampleIntervalNs * a_.samples);
            SetWord(out, kWordStacks, a_.stacks);
            const size_t t = static_cast<size_t>(scan);
            if (t < a_.traceTimes.size() && HasClock(a_.traceTimes[t])) {
                SetWord(out, kWordTimeOfDay, a_.traceTimes[t].secondOfDay);
            }
        }
        SetWord(out, kWordPoints, a_.samples);
        SetWord(out, kWordBytesPerPoint, SampleTypeBytes(type_));
    }

    std::vector<Companion> Companions(int64_t scans) override {
        std::vector<Companion> out = {{".HD", native_ ? NativeHd(scans) : BuildHd(scans)}};
        if (a_.geographic) {
            // GPS times are UTC: the record's go with the fixes only when they are.
            const std::vector<TraceTime> none;
            const std::string fixes =
                FormatScanFixes(a_.coordinates, a_.traceTimeBasis == "UTC" ? a_.traceTimes : none, scans,
                                [this](int64_t t) {
                                    // (As the trace header holds it.)
                                    const float position = static_cast<float>(Position(t) / factor_);
                                    return "Trace #" + std::to_string(t + 1) + " at position " +
                                           FormatNumber(position) + "\r\n";
                                });
            if (!fixes.empty()) out.push_back({".GPS", fixes});
        }
        return out;
    }

private:
    // In a copied native header, the words whose fact the record no longer
    // shares with it (a caller changed the trace's position, elevation or
    // time) are written from the record; the others keep their bits.
    void OverwriteChangedWords(int64_t scan, uint8_t* out) const {
        const size_t t = static_cast<size_t>(scan);
        if (t < a_.tracePositionsM.size() &&
            !(static_cast<double>(Word(out, kWordPosition)) * factor_ == a_.tracePositionsM[t])) {
            SetWord(out, kWordPosition, a_.tracePositionsM[t] / factor_);
        }
        if (t < a_.elevationsM.size() &&
            !(static_cast<double>(Word(out, kWordElevation)) * factor_ == a_.elevationsM[t])) {
            SetWord(out, kWordElevation, a_.elevationsM[t] / factor_);
        }
        if (t < a_.traceTimes.size() && HasClock(a_.traceTimes[t]) &&
            static_cast<double>(Word(out, kWordTimeOfDay)) != a_.traceTimes[t].secondOfDay) {
            SetWord(out, kWordTimeOfDay, a_.traceTimes[t].secondOfDay);
        }
    }

    double Position(int64_t scan) const {
        if (static_cast<size_t>(scan) < a_.tracePositionsM.size()) return a_.tracePositionsM[static_cast<size_t>(scan)];
        return std::isfinite(a_.traceSpacingM) ? scan * a_.traceSpacingM : 0.0;
    }

    // The HD the record was read from, with the counts and every fact the
    // record no longer shares with it (a caller's override, a processing
    // step) written over what it states; otherwise unchanged.
    std::string NativeHd(int64_t scans) const {
        Acquisition stated;
        ReadHdFacts(KeyValueText("", a_.native.text, '='), a_.samples, stated);
        std::vector<std::pair<std::string, std::string>> values = {
            {"NUMBER OF TRACES", std::to_string(scans)}, {"NUMBER OF PTS/TRC", std::to_string(a_.samples)}};
        auto changed = [&](const char* key, double given, double read, double unit) {
            if (std::isfinite(given) && given != read) values.emplace_back(key, FormatNumber(given / unit));
        };
        changed("TOTAL TIME WINDOW", a_.sampleIntervalNs * a_.samples, stated.sampleIntervalNs * a_.samples, 1.0);
        changed("TIMEZERO AT POINT", a_.timeZeroSample, stated.timeZeroSample, 1.0);
        changed("STEP SIZE USED", a_.traceSpacingM, stated.traceSpacingM, factor_);
        changed("NOMINAL FREQUENCY", a_.antennaFrequencyMHz, stated.antennaFrequencyMHz, 1.0);
        changed("ANTENNA SEPARATION", a_.antennaSeparationM, stated.antennaSeparationM, factor_);
        if (a_.stacks > 0 && a_.stacks != stated.stacks) values.emplace_back("NUMBER OF STACKS", std::to_string(a_.stacks));
        return ReplaceValues(a_.native.text, '=', values, " = ");
    }

    std::string BuildHd(int64_t scans) const {
        std::string hd;
        auto line = [&](const std::string& text) { hd += text + "\r\n"; };
        auto entry = [&](std::string key, const std::string& value) {
            key.resize(std::max<size_t>(key.size(), 18), ' ');
            line(key + " = " + value);
        };
        // The day of the first trace that has one; zeros when the traces
        // have times without a day (which a day would be given to on
        // reading); else today.
        char date[32] = "0000-00-00";
        const TraceTime* dated = FirstDated(a_.traceTimes);
        const std::time_t now = std::time(nullptr);
        std::tm tm{};
        if (dated != nullptr) {
            FormatTraceTime(*dated).copy(date, 10);  // its "yyyy-mm-dd"
        } else if (std::none_of(a_.traceTimes.begin(), a_.traceTimes.end(), HasClock) &&
                   gmtime_r(&now, &tm) != nullptr) {
            std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
        }
        line("1234");
        line("Data written by VANTIR3");
        line(date);
        entry("NUMBER OF TRACES", std::to_string(scans));
        entry("NUMBER OF PTS/TRC", std::to_string(a_.samples));
        entry("TIMEZERO AT POINT", FormatNumber(a_.timeZeroSample));
        if (a_.sampleIntervalNs > 0.0) entry("TOTAL TIME WINDOW", FormatNumber(a_.sampleIntervalNs * a_.samples));
        entry("STARTING POSITION", FormatNumber(Position(0)));
        entry("FINAL POSITION", FormatNumber(Position(std::max<int64_t>(scans - 1, 0))));
        if (a_.traceSpacingM > 0.0) entry("STEP SIZE USED", FormatNumber(a_.traceSpacingM));
        entry("POSITION UNITS", "m");
        if (a_.antennaFrequencyMHz > 0.0) entry("NOMINAL FREQUENCY", FormatNumber(a_.antennaFrequencyMHz));
        if (std::isfinite(a_.antennaSeparationM)) entry("ANTENNA SEPARATION", FormatNumber(a_.antennaSeparationM));
        if (a_.stacks > 0) entry("NUMBER OF STACKS", std::to_string(a_.stacks));
        entry("SURVEY MODE", "Reflection");
        return hd;
    }

    Acquisition a_;
    SampleType type_;
    bool native_;
    double factor_ = 1.0;  // metres per unit of the written positions
};

}  // namespace

std::unique_ptr<FormatWriter> MakeDt1Writer(const std::vector<Acquisition>& channels, SampleType type) {
    if (channels.size() != 1) {
        throw SurveyError("", "channels", "DT1 files hold one channel, not " + std::to_string(channels.size()));
    }
    if (type != SampleType::kI16 && type != SampleType::kF32) {
        throw SurveyError("", "sample type", std::string("DT1 files hold i16 or f32 samples, not ") +
                                                 SampleTypeName(type));
    }
    return std::unique_ptr<FormatWriter>(new Dt1Writer(channels.front(), type));
}

}  // namespace internal
}  // namespace survey
}  // namespace vantir3
