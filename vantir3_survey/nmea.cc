// NMEA scan-to-fix pairing for GPS companion files.
#include "vantir3_survey/nmea.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vantir3_survey/format_io.h"
#include "vantir3_survey/trace_time.h"

namespace vantir3 {
namespace survey {
namespace internal {

namespace {

struct Fix {
    int64_t scan;
    double lon, lat, z;
    TraceTime time;
};

// An RMC date "ddmmyy" as yyyymmdd (years 80 to 99 taken as 1980 to 1999,
// the others as 20yy); 0 when it is not a valid date.
int32_t NmeaDate(const std::string& text) {
    if (text.size() != 6 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    const int32_t d = std::atoi(text.substr(0, 2).c_str()), m = std::atoi(text.substr(2, 2).c_str());
    const int32_t yy = std::atoi(text.substr(4, 2).c_str());
    const int32_t date = (yy >= 80 ? 1900 + yy : 2000 + yy) * 10000 + m * 100 + d;
    return ValidDate(date) ? date : 0;
}

// The comma-separated fields of the sentence on a line (from '$' to '*'),
// its checksum verified when it has one. False for a broken sentence.
bool SplitSentence(const std::string& line, std::vector<std::string>& fields) {
    fields.clear();
    const size_t begin = line.find('$');
    if (begin == std::string::npos) return false;
    const size_t star = line.find('*', begin);
    const std::string body =
        line.substr(begin + 1, star == std::string::npos ? std::string::npos : star - begin - 1);
    if (star != std::string::npos) {
        const std::string sum = Trim(line.substr(star + 1));
        char* end = nullptr;
        const unsigned long want = sum.size() == 2 ? std::strtoul(sum.c_str(), &end, 16) : 256;
        if (sum.size() != 2 || end != sum.c_str() + 2) return false;
        unsigned got = 0;
        for (char c : body) got ^= static_cast<unsigned char>(c);
        if (got != want) return false;
    }
    size_t start = 0;
    for (;;) {
        const size_t comma = body.find(',', start);
        fields.push_back(body.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return !fields[0].empty();
}

// "ddmm.mmmm" (or "dddmm.mmmm") with its hemisphere letter to signed degrees;
// NaN when malformed. Degrees and minutes are read apart (the minutes as
// their own number), so that the text a writer chooses reads back exactly.
double Degrees(const std::string& value, const std::string& hemisphere, double limit) {
    const size_t dot = std::min(value.find('.'), value.size());
    if (dot < 2 || value.find_first_not_of("0123456789") < dot) return kUnknown;
    double deg = 0.0;
    for (size_t i = 0; i + 2 < dot; ++i) deg = deg * 10.0 + (value[i] - '0');
    const double minutes = ParseNumber(value.substr(dot - 2));
    const double d = deg + minutes / 60.0;
    if (!(minutes >= 0.0 && minutes < 60.0) || !(d <= limit)) return kUnknown;
    if (hemisphere == "N" || hemisphere == "E") return d;
    if (hemisphere == "S" || hemisphere == "W") return -d;
    return kUnknown;
}

// The trace (0-based) that a line "Trace #N ..." names (N from 1): -1 for
// another line, -2 for such a line without a trace number.
int64_t TraceLine(const std::string& line) {
    const std::string text = Lower(Trim(line));
    if (text.compare(0, 5, "trace") != 0) return -1;
    const size_t hash = text.find_first_not_of(" \t", 5);
    if (hash == std::string::npos || text[hash] != '#') return -1;
    const size_t begin = hash + 1, end = text.find_first_not_of("0123456789", begin);
    const std::string digits = text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    if (digits.empty() || digits.size() > 15) return -2;
    const int64_t n = std::stoll(digits);
    return n >= 1 ? n - 1 : -2;
}

// A whole, non-negative scan number; -1 otherwise.
int64_t ScanNumber(const std::string& text) {
    const double v = ParseNumber(text);
    if (!(v >= 0.0) || v > 9.0e15 || std::floor(v) != v) return -1;
    return static_cast<int64_t>(v);
}

void Count(std::vector<std::string>& warnings, int64_t n, const std::string& what) {
    if (n > 0) warnings.push_back(std::to_string(n) + " " + what);
}

// Degrees (>= 0) as "ddmm.mmmm...": whole degrees, then minutes chosen
// among the neighbours of the nearest value so that Degrees reads back
// exactly `degrees`, printed with the digits that keep them.
std::string Minutes(double degrees, int degreeDigits) {
    const double d = std::floor(degrees);
    const double nearest = (degrees - d) * 60.0;
    double minutes = nearest, up = nearest, down = nearest;
    for (int i = 0; i < 64 && d + minutes / 60.0 != degrees; ++i) {
        up = std::nextafter(up, 60.0);
        down = std::nextafter(down, 0.0);
        if (d + up / 60.0 == degrees) minutes = up;
        else if (d + down / 60.0 == degrees) minutes = down;
    }
    minutes = std::min(std::max(minutes, 0.0), std::nextafter(60.0, 0.0));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%0*d%s%.17g", degreeDigits, static_cast<int>(d), minutes < 10.0 ? "0" : "",
                  minutes);
    if (std::strchr(buf, 'e') != nullptr) {
        std::snprintf(buf, sizeof buf, "%0*d0%.30f", degreeDigits, static_cast<int>(d), minutes);
    }
    return buf;
}

}  // namespace

std::string WithChecksum(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char buf[8];
    std::snprintf(buf, sizeof buf, "*%02X\r\n", sum);
    return "$" + body + buf;
}

GpsTrack ParseScanFixes(const std::string& text, int64_t traces) {
    GpsTrack track;
    std::vector<Fix> fixes;
    std::vector<std::string> f;
    int64_t pending = -1, broken = 0, unpaired = 0, noFix = 0, outside = 0;
    // The fix paired with the last scan sentence: a further GGA or RMC
    // sentence before the next scan sentence adds what it lacks (the date of
    // an RMC, the elevation of a GGA).
    int64_t paired = -1;
    // A line naming a scan (negative: a broken one): the next fix is its.
    auto name = [&](int64_t scan) {
        if (scan < 0) {
            ++broken;
            return;
        }
        if (pending >= 0) ++unpaired;
        pending = scan;
        paired = -1;
    };
    for (const std::string& line : SplitLines(text)) {
        if (Trim(line).empty()) continue;
        const int64_t trace = TraceLine(line);
        if (trace != -1) {
            name(trace);
            continue;
        }
        if (!SplitSentence(line, f)) {
            ++broken;
            continue;
        }
        const std::string& sentence = f[0];
        const std::string kind = sentence.size() == 5 ? sentence.substr(2) : "";
        if (kind == "GGA" || kind == "RMC") {
            if (pending < 0 && paired < 0) continue;  // a fix of no scan: nothing to pair
            const bool gga = kind == "GGA";
            const size_t at = gga ? 2 : 3;  // latitude field
            if (f.size() < at + 4) {
                if (pending >= 0) ++broken;
                pending = -1;
                continue;
            }
            const double lat = Degrees(f[at], f[at + 1], 90.0);
            const double lon = Degrees(f[at + 2], f[at + 3], 180.0);
            if (std::isnan(lat) || std::isnan(lon)) {
                if (pending >= 0) ++broken;
                pending = -1;
                continue;
            }
            const double z = gga && f.size() > 9 ? ParseNumber(f[9]) : kUnknown;
            // A day counts only with a clock reading.
            TraceTime time;
            time.secondOfDay = ParseClock(f[1], 0);
            if (!gga && f.size() > 9 && HasClock(time)) time.date = NmeaDate(f[9]);
            if (pending < 0) {
                Fix& p = fixes[static_cast<size_t>(paired)];
                if (std::isnan(p.z)) p.z = z;
                if (!HasClock(p.time)) p.time = time;
                if (p.time.date == 0 && time.secondOfDay == p.time.secondOfDay) p.time.date = time.date;
                continue;
            }
            const bool valid = gga ? (f.size() > 6 && f[6] != "" && f[6] != "0") : f[2] == "A";
            if (!valid) ++noFix;
            paired = static_cast<int64_t>(fixes.size());
            fixes.push_back({pending, lon, lat, z, time});
            pending = -1;
        } else if (sentence == "GSSIS" || sentence[0] == 'P') {
            name(f.size() >= 2 ? ScanNumber(f[1]) : -1);
        }
        // Other standard sentences (satellites, course) carry no position for a scan.
    }
    if (pending >= 0) ++unpaired;
    std::stable_sort(fixes.begin(), fixes.end(), [](const Fix& a, const Fix& b) { return a.scan < b.scan; });
    std::vector<Fix> kept;
    for (const Fix& x : fixes) {
        if (x.scan >= traces) {
            ++outside;
        } else if (kept.empty() || kept.back().scan != x.scan) {
            kept.push_back(x);
        }
    }
    Count(track.warnings, broken, "empty or broken NMEA sentences skipped");
    Count(track.warnings, unpaired, "scan sentences without a following fix skipped");
    Count(track.warnings, noFix, "fixes are flagged as no valid fix; their positions are used as recorded");
    Count(track.warnings, outside,
          "fixes name scans beyond the file's " + std::to_string(traces) + " traces; skipped");
    if (kept.empty()) {
        track.warnings.push_back("no GPS fix is paired with a scan: no trace positions");
        return track;
    }
    track.hasElevation = std::all_of(kept.begin(), kept.end(), [](const Fix& x) { return !std::isnan(x.z); });
    const bool timed = std::any_of(kept.begin(), kept.end(), [](const Fix& x) { return HasClock(x.time); });
    track.coordinates.resize(static_cast<size_t>(traces));
    if (timed) track.times.resize(static_cast<size_t>(traces));
    size_t i = 0;
    for (int64_t t = 0; t < traces; ++t) {
        while (i + 1 < kept.size() && kept[i + 1].scan <= t) ++i;
        const Fix& a = kept[i];
        Coordinate& c = track.coordinates[static_cast<size_t>(t)];
        TraceTime time = a.time;
        if (t <= a.scan || i + 1 == kept.size()) {
            c = {a.lon, a.lat, a.z};
        } else {
            const Fix& b = kept[i + 1];
            const double w = static_cast<double>(t - a.scan) / static_cast<double>(b.scan - a.scan);
            c = {a.lon + (b.lon - a.lon) * w, a.lat + (b.lat - a.lat) * w, a.z + (b.z - a.z) * w};
            if (HasClock(a.time) && HasClock(b.time)) time = Interpolate(a.time, b.time, w);
        }
        if (timed) track.times[static_cast<size_t>(t)] = time;
        if (!track.hasElevation) c.z = kUnknown;
    }
    return track;
}

std::string ScanSentence(int64_t trace) { return WithChecksum("GSSIS," + std::to_string(trace) + ",-1"); }

std::string FormatScanFixes(const std::vector<Coordinate>& coordinates, const std::vector<TraceTime>& times,
                            int64_t traces, const std::function<std::string(int64_t)>& scanLine) {
    std::string out;
    const int64_t n = std::min<int64_t>(traces, static_cast<int64_t>(coordinates.size()));
    for (int64_t t = 0; t < n; ++t) {
        const Coordinate& c = coordinates[static_cast<size_t>(t)];
        if (!(std::fabs(c.y) <= 90.0) || !(std::fabs(c.x) <= 180.0)) continue;
        TraceTime time;
        if (static_cast<size_t>(t) < times.size()) time = times[static_cast<size_t>(t)];
        // (An empty field where the time is unknown.)
        const std::string clock = HasClock(time) ? FormatClock(time.secondOfDay, "") : "";
        const std::string position = Minutes(std::fabs(c.y), 2) + (c.y < 0 ? ",S," : ",N,") +
                                     Minutes(std::fabs(c.x), 3) + (c.x < 0 ? ",W" : ",E");
        char z[40] = "";
        if (std::isfinite(c.z)) std::snprintf(z, sizeof z, "%.17g", c.z);
        out += scanLine(t);
        out += WithChecksum("GPGGA," + clock + "," + position + ",1,00,," + z + ",M,,M,,");
        // The day, where known, in an RMC sentence of the same fix (whose
        // two-digit years name 1980 to 2079).
        if (HasClock(time) && ValidDate(time.date) && time.date >= 19800101 && time.date < 20800101) {
            char date[16];
            std::snprintf(date, sizeof date, "%02d%02d%02d", static_cast<int>(time.date % 100),
                          static_cast<int>(time.date / 100 % 100), static_cast<int>(time.date / 10000 % 100));
            out += WithChecksum("GPRMC," + clock + ",A," + position + ",,," + date + ",,");
        }
    }
    return out;
}

GpsTrack ReadGpsLog(const std::string& path, const std::string& extension, int64_t traces,
                    std::vector<std::string>& warnings) {
    const std::string text = ReadCompanion(path, extension, warnings, GpsLogLimit(traces));
    if (text.empty()) return GpsTrack();
    GpsTrack track = ParseScanFixes(text, traces);
    for (const std::string& w : track.warnings) warnings.push_back(extension.substr(1) + ": " + w);
    return track;
}

void ApplyGpsTrack(const GpsTrack& track, Acquisition& a) {
    if (track.coordinates.empty()) return;
    a.coordinates = track.coordinates;
    a.geographic = true;
    // Times of day alone would take the day from times that have one.
    const bool dated = FirstDated(track.times) != nullptr || FirstDated(a.traceTimes) == nullptr;
    if (!track.times.empty() && dated) {
        a.traceTimes = track.times;
        a.traceTimeBasis = "UTC";
    }
    if (track.hasElevation && a.elevationsM.empty()) {
        for (const Coordinate& g : track.coordinates) a.elevationsM.push_back(g.z);
    }
}

}  // namespace internal
}  // namespace survey
}  // namespace vantir3
