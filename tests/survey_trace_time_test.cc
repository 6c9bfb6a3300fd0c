// Trace times: calendar and clock arithmetic, and the times of GPS fixes in
// NMEA text (read, interpolated between fixes, written back).
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vantir3_survey/nmea.h"
#include "vantir3_survey/survey.h"
#include "vantir3_survey/trace_time.h"

namespace vantir3 {
namespace survey {
namespace {

using internal::DateFromDays;
using internal::DaysFromDate;
using internal::FormatClock;
using internal::ParseClock;
using internal::ValidDate;

TEST(TraceTime, CalendarDaysFollowEachOtherForEveryDateOfYearsOneTo9999) {
    EXPECT_EQ(DaysFromDate(19700101), 0);
    EXPECT_EQ(DaysFromDate(20000301), 11017);
    EXPECT_EQ(DaysFromDate(19691231), -1);
    EXPECT_TRUE(ValidDate(20240229) && ValidDate(20000229));
    EXPECT_FALSE(ValidDate(20230229) || ValidDate(19000229) || ValidDate(20241301) || ValidDate(20240400) ||
                 ValidDate(0) || ValidDate(100000101));
    int32_t date = 10101;
    const int64_t first = DaysFromDate(date);
    for (int64_t day = first; date != 99991231; ++day) {
        ASSERT_TRUE(ValidDate(date)) << date;
        ASSERT_EQ(DaysFromDate(date), day) << date;
        const int32_t next = DateFromDays(day + 1);
        // The next date is the next day of the month, or the first of the next month or year.
        const bool nextDay = next == date + 1;
        const bool nextMonth = next % 100 == 1 && (next / 100 == date / 100 + 1 || next / 10000 == date / 10000 + 1);
        ASSERT_TRUE(nextDay || nextMonth) << date << " -> " << next;
        date = next;
    }
    EXPECT_EQ(DaysFromDate(99991231) - first + 1, 3652059);  // 9999 Gregorian years
}

TEST(TraceTime, ClockTextsReadAndWriteBack) {
    EXPECT_EQ(ParseClock("16:58:43", ':'), 61123.0);
    EXPECT_EQ(ParseClock("165843.25", 0), 61123.25);
    EXPECT_EQ(ParseClock("235960", 0), 86400.0);  // a leap second
    for (const char* bad : {"24:00:00", "12:60:00", "1:02:03", "12:00:00x", "12-00-00", "12:00", "12:00:00.",
                            "12:00:00.5.", ""}) {
        EXPECT_TRUE(std::isnan(ParseClock(bad, ':'))) << bad;
    }
    EXPECT_TRUE(std::isnan(ParseClock("16:58:43", 0)));
    EXPECT_EQ(FormatClock(3599.5, ""), "005959.5");
    EXPECT_EQ(FormatClock(61123.0, ":"), "16:58:43");
    EXPECT_EQ(FormatClock(59.9999996, ":"), "00:01:00");
    EXPECT_EQ(FormatClock(86400.25, ":"), "23:59:60.25");  // a leap second
    EXPECT_EQ(ParseClock("12:00:00.1234567", ':'), 43200.123456);
    // Every microsecond value written reads back as the same double.
    for (int64_t us = 0; us < 86400000000; us += 7777777) {
        const double t = static_cast<double>(us) / 1e6;
        ASSERT_EQ(ParseClock(FormatClock(t, ":"), ':'), t) << us;
        ASSERT_EQ(ParseClock(FormatClock(t, ""), 0), t) << us;
    }
}

std::string Sentence(const std::string& body) { return internal::WithChecksum(body); }

TEST(TraceTime, GpsFixTimesAreInterpolatedAcrossMidnightAndWrittenBack) {
    // Scans 0 and 3 fixed: each with a GGA and an RMC of the same fix, the
    // RMC giving the day (the first pair in either order).
    const std::string text =
        Sentence("GSSIS,0,-1") + Sentence("GPRMC,235959.5,A,4739.2552,N,12218.5815,W,,,260719,,") +
        Sentence("GPGGA,235959.5,4739.2552,N,12218.5815,W,1,05,,100.5,M,,M,,") + Sentence("GSSIS,3,-1") +
        Sentence("GPGGA,000002.5,4739.3552,N,12218.5815,W,1,05,,103.5,M,,M,,") +
        Sentence("GPRMC,000002.5,A,4739.3552,N,12218.5815,W,,,270719,,");
    const internal::GpsTrack track = internal::ParseScanFixes(text, 5);
    EXPECT_TRUE(track.warnings.empty()) << track.warnings.front();
    EXPECT_TRUE(track.hasElevation);
    ASSERT_EQ(track.times.size(), 5u);
    const TraceTime want[] = {{20190726, 86399.5}, {20190727, 0.5}, {20190727, 1.5}, {20190727, 2.5},
                              {20190727, 2.5}};
    for (size_t t = 0; t < 5; ++t) {
        EXPECT_EQ(track.times[t].date, want[t].date) << t;
        EXPECT_EQ(track.times[t].secondOfDay, want[t].secondOfDay) << t;
    }
    // Written and read again: the same positions and times, trace by trace.
    const internal::GpsTrack again =
        internal::ParseScanFixes(internal::FormatScanFixes(track.coordinates, track.times, 5), 5);
    ASSERT_EQ(again.times.size(), 5u);
    for (size_t t = 0; t < 5; ++t) {
        EXPECT_EQ(again.times[t].date, track.times[t].date) << t;
        EXPECT_EQ(again.times[t].secondOfDay, track.times[t].secondOfDay) << t;
        EXPECT_EQ(again.coordinates[t].y, track.coordinates[t].y) << t;
        EXPECT_EQ(again.coordinates[t].z, track.coordinates[t].z) << t;
    }

    // Times of day alone cross midnight too; a fix without a time gives
    // its traces none, and fixes without any give no times at all.
    const internal::GpsTrack plain = internal::ParseScanFixes(
        Sentence("GSSIS,0,-1") + Sentence("GPGGA,235959,4739.2552,N,12218.5815,W,1,05,,,M,,M,,") +
            Sentence("GSSIS,2,-1") + Sentence("GPGGA,000001,4739.2552,N,12218.5815,W,1,05,,,M,,M,,") +
            Sentence("GSSIS,3,-1") + Sentence("GPGGA,,4739.2552,N,12218.5815,W,1,05,,,M,,M,,"),
        4);
    ASSERT_EQ(plain.times.size(), 4u);
    EXPECT_EQ(plain.times[1].date, 0);
    EXPECT_EQ(plain.times[1].secondOfDay, 0.0);
    EXPECT_TRUE(std::isnan(plain.times[3].secondOfDay));
    EXPECT_TRUE(internal::ParseScanFixes(Sentence("GSSIS,0,-1") +
                                             Sentence("GPGGA,,4739.2552,N,12218.5815,W,1,05,,,M,,M,,"),
                                         2)
                    .times.empty());
}

}  // namespace
}  // namespace survey
}  // namespace vantir3
