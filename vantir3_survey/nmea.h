// GPS companions in NMEA text: the .DZG beside a .DZT, where a proprietary
// "$NAME,scan,time" sentence names the scan (0-based) that the next GGA or
// RMC fix belongs to, and the .GPS beside a .DT1, where a line "Trace #N at
// position P" names the trace (1-based). Reading pairs them and interpolates
// a position for every trace; writing gives one pair per trace.
#ifndef VANTIR3_SURVEY_NMEA_H_
#define VANTIR3_SURVEY_NMEA_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "vantir3_survey/survey.h"

namespace vantir3 {
namespace survey {
namespace internal {

struct GpsTrack {
    // Longitude, latitude (degrees) and elevation (m, NaN when the fixes
    // give none) of every trace; empty when the text pairs no fix with a scan.
    std::vector<Coordinate> coordinates;
    bool hasElevation = false;
    // The time of every trace where the fixes give clock readings (the
    // date from RMC sentences); empty when none does.
    std::vector<TraceTime> times;
    std::vector<std::string> warnings;
};

// The line of an NMEA sentence: "$", the body, "*", its checksum, CRLF.
std::string WithChecksum(const std::string& body);

// Positions of traces 0 .. traces-1 from NMEA text (with scan sentences or
// trace lines, or both). Traces between paired
// scans are interpolated linearly, traces before the first or after the last
// take that fix. Never throws on bad text: broken, empty or unpaired
// sentences are skipped and counted in a warning.
GpsTrack ParseScanFixes(const std::string& text, int64_t traces);

// NMEA text pairing every trace with a GGA fix of its coordinate
// (longitude, latitude, elevation when not NaN) at its time (times may be
// shorter than the traces), followed by an RMC sentence of the same fix
// where the time has a date that RMC can name (1980 to 2079). Each pair
// follows the line that names its trace: scanLine(trace, 0-based), with its
// line end; by default a "$GSSIS,scan,-1" sentence.
std::string ScanSentence(int64_t trace);
std::string FormatScanFixes(const std::vector<Coordinate>& coordinates, const std::vector<TraceTime>& times,
                            int64_t traces,
                            const std::function<std::string(int64_t)>& scanLine = ScanSentence);

// The GPS log beside a file of `traces` traces, of the given extension
// (".DZG", ".GPS"): its track, empty when there is none. Its problems (a log
// that cannot be read, broken sentences) go to warnings, named by the
// extension.
GpsTrack ReadGpsLog(const std::string& path, const std::string& extension, int64_t traces,
                    std::vector<std::string>& warnings);

// A track's positions on a record: its coordinates (geographic), its times
// where it has them (UTC: they replace a recorder clock's, unless only the
// recorder's give the day), its altitudes as elevations where the record has
// none of its own.
void ApplyGpsTrack(const GpsTrack& track, Acquisition& a);

}  // namespace internal
}  // namespace survey
}  // namespace vantir3

#endif  // VANTIR3_SURVEY_NMEA_H_
