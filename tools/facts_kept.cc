#include "tools/facts_kept.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vantir3_cli {

namespace vs = vantir3::survey;

bool Timed(const vs::TraceTime& t) { return std::isfinite(t.secondOfDay); }

int64_t TimedTraces(const vs::Acquisition& a) { return std::count_if(a.traceTimes.begin(), a.traceTimes.end(), Timed); }
int64_t Located(const vs::Acquisition& a) {
    return std::count_if(a.coordinates.begin(), a.coordinates.end(),
                         [](const vs::Coordinate& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
}
int64_t Elevated(const vs::Acquisition& a) {
    return std::count_if(a.elevationsM.begin(), a.elevationsM.end(), [](double z) { return std::isfinite(z); });
}

std::string CsvNum(double v) {
    if (!std::isfinite(v)) return "";
    char buf[64];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        if (std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

std::vector<std::string> FactsNotKept(const std::vector<vs::Acquisition>& given, const std::string& written,
                                      vs::Format format, const std::vector<double>& scales) {
    vs::ReadOptions read;
    read.formatGiven = true;  // as written, whatever the extension
    read.format = format;
    read.deferTraceWords = true;  // the facts only: no pass over the traces
    const auto back = vs::SurveyFile::Open(written, read);
    std::vector<std::string> lost;
    auto number = [](double v, const char* unit) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.6g%s", v, unit);
        return std::string(buf);
    };
    for (size_t c = 0; c < given.size() && c < static_cast<size_t>(back->channelCount()); ++c) {
        const vs::Acquisition& a = given[c];
        const vs::Acquisition& b = back->acquisition(static_cast<int32_t>(c));
        const std::string channel = given.size() > 1 ? " (channel " + std::to_string(c) + ")" : "";
        // A value kept to within the precision of the field that holds it
        // (DZT's are 32-bit floats).
        auto value = [&](const char* what, double x, double y, const char* unit) {
            if (std::isfinite(x) && !(std::fabs(x - y) <= 1e-6 * std::max(1.0, std::fabs(x))))
                lost.push_back(std::string(what) + " " + number(x, unit) + channel);
        };
        value("antenna separation", a.antennaSeparationM, b.antennaSeparationM, " m");
        value("antenna frequency", a.antennaFrequencyMHz, b.antennaFrequencyMHz, " MHz");
        value("time zero at sample", a.timeZeroSample, b.timeZeroSample, "");
        value("sample interval", a.sampleIntervalNs, b.sampleIntervalNs, " ns");
        value("trace spacing", a.traceSpacingM, b.traceSpacingM, " m");
        if (c < scales.size() && scales[c] != a.scale)
            lost.push_back("amplitude scale " + CsvNum(a.scale) + " (values written as the 16-bit samples)" + channel);
        // Per-trace facts, counted where they are known.
        auto count = [&](const std::string& what, int64_t x, int64_t y) {
            if (y < x) lost.push_back(what + " of " + std::to_string(x) + " trace" + (x == 1 ? "" : "s") + channel);
        };
        // A DZT's marks are in its traces' words, which the read-back skips.
        if (back->TraceWordBytes() == 0) count("marks", a.marks.size(), b.marks.size());
        count("coordinates", Located(a), Located(b));
        count("elevations", Elevated(a), Elevated(b));
        count("recording times", TimedTraces(a), TimedTraces(b));
        // (One stack is no stacking: nothing to lose.)
        if (a.stacks > 1 && b.stacks != a.stacks) lost.push_back("stacks " + std::to_string(a.stacks) + channel);
    }
    return lost;
}

std::string FactsNotKeptText(const std::string& written, vs::Format format, const std::vector<std::string>& lost) {
    std::string list;
    for (const std::string& l : lost) list += (list.empty() ? "" : ", ") + l;
    return written + " (" + vs::FormatName(format) + ") does not keep: " + list;
}

}  // namespace vantir3_cli
