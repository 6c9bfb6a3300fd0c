// RD3 (16-bit) and RD7 (32-bit) files: headerless traces of SAMPLES signed
// little-endian integers, an .RAD text companion ("KEY:value" lines) and,
// when recorded, a .COR companion with one GPS position per line.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "vantir3_survey/format_io.h"
#include "vantir3_survey/text_header.h"
#include "vantir3_survey/trace_time.h"

namespace vantir3 {
namespace survey {
namespace internal {

namespace {

// Splits a line at tabs, surrounding blanks trimmed.
std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t b = 0;
    for (;;) {
        const size_t e = line.find('\t', b);
        fields.push_back(Trim(line.substr(b, e == std::string::npos ? std::string::npos : e - b)));
        if (e == std::string::npos) return fields;
        b = e + 1;
    }
}

// A .COR date "yyyy-mm-dd" as yyyymmdd; 0 when it is not a valid date
// ("0000-00-00" marks a fix without one).
int32_t ParseCorDate(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return 0;
    int32_t date = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == 4 || i == 7) continue;
        if (text[i] < '0' || text[i] > '9') return 0;
        date = date * 10 + (text[i] - '0');
    }
    return ValidDate(date) ? date : 0;
}

// One .COR line: trace no., date, time, lat, N/S, lon, E/W, elevation, "M",
// quality. False when it is not such a line. A date or time that does not
// read leaves the time unknown and keeps the position.
bool ParseCorLine(const std::string& line, int64_t& trace, Coordinate& c, TraceTime& time) {
    const std::vector<std::string> f = SplitTabs(line);
    if (f.size() < 8) return false;
    const double number = ParseNumber(f[0]);
    const double lat = ParseNumber(f[3]), lon = ParseNumber(f[5]), z = ParseNumber(f[7]);
    if (!(number >= 1.0 && number <= 9e15) || number != std::floor(number)) return false;
    if (!(lat >= 0.0 && lat <= 90.0 && lon >= 0.0 && lon <= 180.0) || std::isnan(z)) return false;
    if ((f[4] != "N" && f[4] != "S") || (f[6] != "E" && f[6] != "W")) return false;
    if (f.size() > 8 && f[8] != "M" && f[8] != "m") return false;
    trace = static_cast<int64_t>(number);
    c.y = f[4] == "S" ? -lat : lat;
    c.x = f[6] == "W" ? -lon : lon;
    c.z = z;
    time.date = ParseCorDate(f[1]);
    time.secondOfDay = ParseClock(f[2], ':');
    // A zero date at midnight is the mark of a log without times.
    if (time.date == 0 && time.secondOfDay == 0.0 && f[1] == "0000-00-00") time.secondOfDay = kUnknown;
    return true;
}

// The .COR positions onto a's traces (NaN where a trace has none).
void ReadCor(const std::string& path, Acquisition& a) {
    const std::string text = ReadTextFile(path, GpsLogLimit(a.traces));
    // Sized on the first good line: a .COR without one costs nothing.
    std::vector<Coordinate> coordinates;
    std::vector<TraceTime> times;
    int64_t bad = 0, firstBad = 0, beyond = 0, lineNo = 0, found = 0;
    for (const std::string& line : SplitLines(text)) {
        ++lineNo;
        if (Trim(line).empty()) continue;
        int64_t trace = 0;
        Coordinate c;
        TraceTime time;
        if (!ParseCorLine(line, trace, c, time)) {
            if (bad++ == 0) firstBad = lineNo;
            continue;
        }
        if (trace > a.traces) {
            ++beyond;
            continue;
        }
        if (coordinates.empty()) coordinates.resize(static_cast<size_t>(a.traces));
        coordinates[static_cast<size_t>(trace - 1)] = c;
        if (HasClock(time)) {
            if (times.empty()) times.resize(static_cast<size_t>(a.traces));
            times[static_cast<size_t>(trace - 1)] = time;
        }
        ++found;
    }
    if (bad > 0) {
        a.warnings.push_back(path + ": " + std::to_string(bad) + " unreadable line(s) skipped, the first is line " +
                             std::to_string(firstBad));
    }
    if (beyond > 0) {
        a.warnings.push_back(path + ": " + std::to_string(beyond) + " position(s) for traces beyond the " +
                             std::to_string(a.traces) + " of the file ignored");
    }
    if (found > 0) {
        // The fixes' altitudes are the traces' elevations, as a .DZG's are.
        if (std::any_of(coordinates.begin(), coordinates.end(), [](const Coordinate& c) { return std::isfinite(c.z); })) {
            for (const Coordinate& c : coordinates) a.elevationsM.push_back(c.z);
        }
        a.coordinates = std::move(coordinates);
        if (!times.empty()) a.traceTimeBasis = "UTC";
        a.traceTimes = std::move(times);
        a.geographic = true;
    }
}

// The sample interval: 1 / FREQUENCY (sampling frequency, MHz), checked
// against TIMEWINDOW / SAMPLES.
void ReadSampleInterval(const KeyValueText& rad, const ReadOptions& options, Acquisition& a) {
    const double frequency = rad.Number("FREQUENCY");
    a.timeWindowNs = rad.Number("TIMEWINDOW");
    const double byFrequency = frequency > 0.0 ? 1000.0 / frequency : kUnknown;
    const double byWindow = a.timeWindowNs > 0.0 ? a.timeWindowNs / a.samples : kUnknown;
    const bool useWindow = !std::isnan(byWindow) && (options.rd3UseTimeWindow || std::isnan(byFrequency));
    if (useWindow) {
        a.sampleIntervalNs = byWindow;
        a.sampleIntervalSource = "TIMEWINDOW / SAMPLES";
    } else if (!std::isnan(byFrequency)) {
        a.sampleIntervalNs = byFrequency;
        a.sampleIntervalSource = "1 / FREQUENCY";
    } else {
        a.warnings.push_back("FREQUENCY and TIMEWINDOW missing: the sample interval is unknown");
    }
    if (!std::isnan(byFrequency) && !std::isnan(byWindow) &&
        std::fabs(byWindow - byFrequency) > 1e-6 * byFrequency) {
        a.warnings.push_back("TIMEWINDOW / SAMPLES gives " + FormatNumber(byWindow) + " ns but 1 / FREQUENCY gives " +
                             FormatNumber(byFrequency) + " ns (ratio " + FormatNumber(byWindow / byFrequency) +
                             "); using " + a.sampleIntervalSource);
    }
}

void ReadRadFacts(const KeyValueText& rad, Acquisition& a) {
    const double distance = rad.Number("DISTANCE INTERVAL");
    if (distance > 0.0) {
        a.traceSpacingM = distance;
        a.traceSpacingSource = "DISTANCE INTERVAL";
    } else if (distance == 0.0) {
        a.timeTriggered = true;
        a.traceIntervalS = rad.Number("TIME INTERVAL");
        a.traceSpacingSource = "TIME INTERVAL";
    } else {
        a.warnings.push_back("DISTANCE INTERVAL missing: the trace spacing is unknown");
    }
    a.antennaName = rad.Text("ANTENNAS");
    a.antennaFrequencyMHz = LeadingNumber(a.antennaName);
    if (!(a.antennaFrequencyMHz > 0.0)) {
        a.antennaFrequencyMHz = kUnknown;
        a.warnings.push_back("antenna '" + a.antennaName + "': its frequency is unknown");
    }
    a.antennaSeparationM = rad.Number("ANTENNA SEPARATION");
    if (std::isnan(a.antennaSeparationM)) {
        a.warnings.push_back("ANTENNA SEPARATION missing: the antenna separation is unknown");
    }
    const double stacks = rad.Number("STACKS");
    if (stacks >= 1.0 && stacks <= 1e9) a.stacks = static_cast<int32_t>(stacks);
}

}  // namespace

Parsed ParseRd3(const InputFile& file, const ReadOptions& options) {
    const Format format = options.formatGiven ? options.format : FormatFromPath(file.path());
    const SampleType type = format == Format::kRd7 ? SampleType::kI32 : SampleType::kI16;
    const int bytes = SampleTypeBytes(type);
    const std::string radPath = FindCompanion(file.path(), ".RAD");
    if (radPath.empty()) file.Fail(".RAD", "the .RAD header file beside it is missing");
    const std::string text = ReadTextFile(radPath, 1 << 20);
    const KeyValueText rad(radPath, text, ':');

    Acquisition a;
    const int64_t samples = rad.Integer("SAMPLES", 1, std::numeric_limits<int32_t>::max());
    if (samples > file.size() / bytes) {
        rad.Fail("SAMPLES", std::to_string(samples) + " samples of " + std::to_string(bytes) +
                                " bytes do not fit in the " + std::to_string(file.size()) + "-byte data file");
    }
    a.samples = static_cast<int32_t>(samples);
    const int64_t record = samples * bytes;
    a.traces = file.size() / record;
    if (file.size() % record != 0) {
        a.warnings.push_back("the file ends with a partial trace of " + std::to_string(file.size() % record) +
                             " bytes; it was dropped");
    }
    if (rad.Number("LAST TRACE") != static_cast<double>(a.traces)) {
        a.warnings.push_back("LAST TRACE is '" + rad.Text("LAST TRACE") + "' but the file holds " +
                             std::to_string(a.traces) + " traces; the file size counts");
    }
    ReadSampleInterval(rad, options, a);
    ReadRadFacts(rad, a);
    const std::string corPath = FindCompanion(file.path(), ".COR");
    if (!corPath.empty()) ReadCor(corPath, a);
    a.native.format = format;
    a.native.text = text;

    Parsed p;
    p.channels.push_back(std::move(a));
    p.layout.recordBytes = record;
    p.layout.samples = static_cast<int32_t>(samples);
    p.layout.type = type;
    return p;
}

namespace {

class Rd3Writer : public FormatWriter {
public:
    Rd3Writer(const Acquisition& a, SampleType type) : a_(a), type_(type) {}

    TraceLayout Layout() const override {
        TraceLayout l;
        l.samples = a_.samples;
        l.type = type_;
        l.recordBytes = int64_t{a_.samples} * SampleTypeBytes(type_);
        return l;
    }

    std::vector<uint8_t> FileHeader(int64_t) override { return {}; }

    std::vector<Companion> Companions(int64_t scans) override {
        std::vector<Companion> out;
        const bool native = (a_.native.format == Format::kRd3 || a_.native.format == Format::kRd7) &&
                            !a_.native.text.empty();
        out.push_back({".rad", native ? NativeRad(scans) : BuildRad(scans)});
        if (a_.geographic && !a_.coordinates.empty()) out.push_back({".cor", BuildCor(scans)});
        return out;
    }

private:
    // The antenna name, with the frequency in front when the name does not
    // already start with it (readers take the leading number).
    std::string AntennaName() const {
        const double f = a_.antennaFrequencyMHz;
        const std::string name = Trim(a_.antennaName);
        if (f > 0.0 && LeadingNumber(name) == f) return name;
        if (f > 0.0) return FormatNumber(f) + " MHz" + (name.empty() ? "" : " " + name);
        return std::isnan(LeadingNumber(name)) ? name : "antenna " + name;
    }

    // The RAD the record was read from, with the counts and every fact the
    // record no longer shares with it (a caller's override, a processing
    // step) written over what it states; otherwise unchanged.
    std::string NativeRad(int64_t scans) const {
        Acquisition stated;
        stated.samples = a_.samples;
        const KeyValueText rad("", a_.native.text, ':');
        ReadSampleInterval(rad, ReadOptions(), stated);
        ReadRadFacts(rad, stated);
        std::vector<std::pair<std::string, std::string>> values = {{"SAMPLES", std::to_string(a_.samples)},
                                                                   {"LAST TRACE", std::to_string(scans)}};
        const double dt = a_.sampleIntervalNs;
        if (std::isfinite(dt) && dt > 0.0 && dt != stated.sampleIntervalNs) {
            // Both statements of the interval, so that they agree.
            values.emplace_back("FREQUENCY", FormatNumber(1000.0 / dt));
            values.emplace_back("TIMEWINDOW", FormatNumber(dt * a_.samples));
        }
        if (a_.traceSpacingM > 0.0 && a_.traceSpacingM != stated.traceSpacingM) {
            values.emplace_back("DISTANCE FLAG", "1");
            values.emplace_back("TIME FLAG", "0");
            values.emplace_back("DISTANCE INTERVAL", FormatNumber(a_.traceSpacingM));
        }
        const double f = a_.antennaFrequencyMHz;
        if (std::isfinite(f) && f != stated.antennaFrequencyMHz) values.emplace_back("ANTENNAS", AntennaName());
        const double separation = a_.antennaSeparationM;
        if (std::isfinite(separation) && separation != stated.antennaSeparationM)
            values.emplace_back("ANTENNA SEPARATION", FormatNumber(separation));
        if (a_.stacks > 0 && a_.stacks != stated.stacks) values.emplace_back("STACKS", std::to_string(a_.stacks));
        return ReplaceValues(a_.native.text, ':', values, ":");
    }

    std::string BuildRad(int64_t scans) const {
        std::string rad;
        auto entry = [&](const std::string& key, const std::string& value) { rad += key + ":" + value + "\r\n"; };
        entry("SAMPLES", std::to_string(a_.samples));
        if (a_.sampleIntervalNs > 0.0) entry("FREQUENCY", FormatNumber(1000.0 / a_.sampleIntervalNs));
        entry("DISTANCE FLAG", a_.timeTriggered ? "0" : "1");
        entry("TIME FLAG", a_.timeTriggered ? "1" : "0");
        if (a_.timeTriggered) {
            if (std::isfinite(a_.traceIntervalS)) entry("TIME INTERVAL", FormatNumber(a_.traceIntervalS));
            entry("DISTANCE INTERVAL", "0");
        } else if (a_.traceSpacingM > 0.0) {
            entry("DISTANCE INTERVAL", FormatNumber(a_.traceSpacingM));
        }
        entry("ANTENNAS", AntennaName());
        if (std::isfinite(a_.antennaSeparationM)) entry("ANTENNA SEPARATION", FormatNumber(a_.antennaSeparationM));
        if (a_.sampleIntervalNs > 0.0) entry("TIMEWINDOW", FormatNumber(a_.sampleIntervalNs * a_.samples));
        if (a_.stacks > 0) entry("STACKS", std::to_string(a_.stacks));
        entry("LAST TRACE", std::to_string(scans));
        return rad;
    }

    // Positions of the traces that have one, with the trace's date and time
    // where known (zeros where not, as logs without a clock write them).
    std::string BuildCor(int64_t scans) const {
        std::string cor;
        const int64_t n = std::min<int64_t>(scans, static_cast<int64_t>(a_.coordinates.size()));
        for (int64_t t = 0; t < n; ++t) {
            const Coordinate& c = a_.coordinates[static_cast<size_t>(t)];
            if (!std::isfinite(c.x) || !std::isfinite(c.y)) continue;
            TraceTime time;
            if (static_cast<size_t>(t) < a_.traceTimes.size()) time = a_.traceTimes[static_cast<size_t>(t)];
            // "date time", or the time alone; zeros for what is unknown.
            std::string when = FormatTraceTime(time);
            if (when.empty()) when = "00:00:00";
            if (when.size() < 10 || when[4] != '-') when = "0000-00-00 " + when;
            when[10] = '\t';
            cor += std::to_string(t + 1) + "\t" + when + "\t" + FormatNumber(std::fabs(c.y)) +
                   (c.y < 0.0 ? "\tS\t" : "\tN\t") + FormatNumber(std::fabs(c.x)) + (c.x < 0.0 ? "\tW\t" : "\tE\t") +
                   FormatNumber(std::isfinite(c.z) ? c.z : 0.0) + "\tM\t0\r\n";
        }
        return cor;
    }

    Acquisition a_;
    SampleType type_;
};

}  // namespace

std::unique_ptr<FormatWriter> MakeRd3Writer(const std::vector<Acquisition>& channels, SampleType type) {
    if (channels.size() != 1) {
        throw SurveyError("", "channels", "RD3/RD7 files hold one channel, not " + std::to_string(channels.size()));
    }
    if (type != SampleType::kI16 && type != SampleType::kI32) {
        throw SurveyError("", "sample type", std::string("RD3 files hold i16 samples and RD7 files i32, not ") +
                                                 SampleTypeName(type));
    }
    return std::unique_ptr<FormatWriter>(new Rd3Writer(channels.front(), type));
}

}  // namespace internal
}  // namespace survey
}  // namespace vantir3
