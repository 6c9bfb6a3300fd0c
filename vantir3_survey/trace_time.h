// Calendar and clock arithmetic for trace times (TraceTime in survey.h):
// the days of a date, interpolation between two fixes, and the text forms
// that GPS logs use ("2019-07-26" and "16:58:43" in .COR lines, "260719"
// and "165843.25" in NMEA sentences).
#ifndef VANTIR3_SURVEY_TRACE_TIME_H_
#define VANTIR3_SURVEY_TRACE_TIME_H_

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "vantir3_survey/survey.h"

namespace vantir3 {
namespace survey {
namespace internal {

// Days from 1970-01-01 to the date yyyymmdd of the proleptic Gregorian
// calendar; the date must be valid (ValidDate).
int64_t DaysFromDate(int32_t date);
// The date yyyymmdd of a day counted from 1970-01-01.
int32_t DateFromDays(int64_t days);
// Whether yyyymmdd is a day of years 1 to 9999.
bool ValidDate(int32_t date);

// Whether the time has a clock reading (a finite second of the day).
inline bool HasClock(const TraceTime& t) { return std::isfinite(t.secondOfDay); }

// Whether a clock reading lies within a day: 0 up to 86400, and on to 86401
// for a leap second (23:59:60).
inline bool WithinDay(double secondOfDay) { return secondOfDay >= 0.0 && secondOfDay < 86401.0; }

// The first of the times with a clock reading and a day; null when none has.
inline const TraceTime* FirstDated(const std::vector<TraceTime>& times) {
    for (const TraceTime& t : times) {
        if (HasClock(t) && ValidDate(t.date)) return &t;
    }
    return nullptr;
}

// The time at fraction w (0 ... 1) of the way from a to b, both with a
// clock reading, to the microsecond. With both dates, or neither, a later
// clock reading that is smaller crossed midnight; with one date only, the
// result is a.
TraceTime Interpolate(const TraceTime& a, const TraceTime& b, double w);

// A second of the day as "hh" sep "mm" sep "ss", with the fraction when
// there is one (to the microsecond); 86400 up to 86401 is a leap second,
// "23:59:60".
std::string FormatClock(double secondOfDay, const char* separator);

// Parse "hh:mm:ss[.f]" (separator ':') or "hhmmss[.f]" (separator 0) into
// seconds since midnight, to the microsecond; NaN when the text is not such
// a time.
double ParseClock(const std::string& text, char separator);

}  // namespace internal
}  // namespace survey
}  // namespace vantir3

#endif  // VANTIR3_SURVEY_TRACE_TIME_H_
