// Checks shared by the survey-file format tests: whole-file trace reads,
// NaN-aware comparison of acquisition facts, warnings by text.
#ifndef VANTIR3_TESTS_SUPPORT_SURVEY_CHECKS_H_
#define VANTIR3_TESTS_SUPPORT_SURVEY_CHECKS_H_

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "vantir3_survey/survey.h"

namespace vantir3_test {

// Both NaN, or equal.
inline bool SameNumber(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// Every trace of channel 0 as stored values / as 16-bit samples.
inline std::vector<double> AllValues(const vantir3::survey::SurveyFile& f) {
    std::vector<double> v(static_cast<size_t>(f.traceCount() * f.sampleCount()));
    f.ReadTraces(0, 0, f.traceCount(), v.data());
    return v;
}
inline std::vector<int16_t> AllSamples16(const vantir3::survey::SurveyFile& f) {
    std::vector<int16_t> v(static_cast<size_t>(f.traceCount() * f.sampleCount()));
    f.ReadTraces16(0, 0, f.traceCount(), v.data());
    return v;
}

// Identical bit patterns (NaNs and signed zeros included).
inline bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

inline bool HasWarning(const vantir3::survey::Acquisition& a, const std::string& part) {
    for (const std::string& w : a.warnings) {
        if (w.find(part) != std::string::npos) return true;
    }
    return false;
}

// The facts a same-format round trip must keep.
inline void ExpectSameFacts(const vantir3::survey::Acquisition& a, const vantir3::survey::Acquisition& b) {
    EXPECT_EQ(a.format, b.format);
    EXPECT_EQ(a.channelCount, b.channelCount);
    EXPECT_EQ(a.traces, b.traces);
    EXPECT_EQ(a.samples, b.samples);
    EXPECT_EQ(a.sampleType, b.sampleType);
    EXPECT_EQ(a.scale, b.scale);
    EXPECT_TRUE(SameNumber(a.sampleIntervalNs, b.sampleIntervalNs)) << a.sampleIntervalNs << " " << b.sampleIntervalNs;
    EXPECT_EQ(a.sampleIntervalSource, b.sampleIntervalSource);
    EXPECT_TRUE(SameNumber(a.timeZeroSample, b.timeZeroSample)) << a.timeZeroSample << " " << b.timeZeroSample;
    EXPECT_TRUE(SameNumber(a.firstSampleTimeNs, b.firstSampleTimeNs));
    EXPECT_TRUE(SameNumber(a.timeWindowNs, b.timeWindowNs));
    EXPECT_TRUE(SameNumber(a.traceSpacingM, b.traceSpacingM)) << a.traceSpacingM << " " << b.traceSpacingM;
    EXPECT_EQ(a.timeTriggered, b.timeTriggered);
    EXPECT_TRUE(SameNumber(a.traceIntervalS, b.traceIntervalS));
    EXPECT_EQ(a.traceSpacingSource, b.traceSpacingSource);
    EXPECT_EQ(a.antennaName, b.antennaName);
    EXPECT_TRUE(SameNumber(a.antennaFrequencyMHz, b.antennaFrequencyMHz));
    EXPECT_TRUE(SameNumber(a.antennaSeparationM, b.antennaSeparationM));
    EXPECT_EQ(a.positionUnit, b.positionUnit);
    EXPECT_EQ(a.stacks, b.stacks);
    EXPECT_EQ(a.tracePositionsM, b.tracePositionsM);
    ASSERT_EQ(a.elevationsM.size(), b.elevationsM.size());
    for (size_t t = 0; t < a.elevationsM.size(); ++t) {
        EXPECT_TRUE(SameNumber(a.elevationsM[t], b.elevationsM[t])) << "trace " << t;
    }
    EXPECT_EQ(a.geographic, b.geographic);
    ASSERT_EQ(a.coordinates.size(), b.coordinates.size());
    for (size_t t = 0; t < a.coordinates.size(); ++t) {
        EXPECT_TRUE(SameNumber(a.coordinates[t].x, b.coordinates[t].x) &&
                    SameNumber(a.coordinates[t].y, b.coordinates[t].y) &&
                    SameNumber(a.coordinates[t].z, b.coordinates[t].z))
            << "trace " << t;
    }
    EXPECT_EQ(a.traceTimeBasis, b.traceTimeBasis);
    ASSERT_EQ(a.traceTimes.size(), b.traceTimes.size());
    for (size_t t = 0; t < a.traceTimes.size(); ++t) {
        EXPECT_EQ(a.traceTimes[t].date, b.traceTimes[t].date) << "trace " << t;
        EXPECT_TRUE(SameNumber(a.traceTimes[t].secondOfDay, b.traceTimes[t].secondOfDay)) << "trace " << t;
    }
}

}  // namespace vantir3_test

#endif  // VANTIR3_TESTS_SUPPORT_SURVEY_CHECKS_H_
