#include "vantir3_survey/trace_time.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vantir3 {
namespace survey {
namespace internal {

namespace {

constexpr double kDay = 86400.0;

int DaysInMonth(int64_t y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

}  // namespace

bool ValidDate(int32_t date) {
    const int32_t y = date / 10000, m = date / 100 % 100, d = date % 100;
    return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

// Civil-calendar day counts in 400-year eras (146097 days each), with
// years starting in March so that the leap day ends the year.
int64_t DaysFromDate(int32_t date) {
    int64_t y = date / 10000;
    const int64_t m = date / 100 % 100, d = date % 100;
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int32_t DateFromDays(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2);
    return static_cast<int32_t>(y * 10000 + m * 100 + d);
}

TraceTime Interpolate(const TraceTime& a, const TraceTime& b, double w) {
    const bool dated = ValidDate(a.date) && ValidDate(b.date);
    if (!dated && a.date != b.date) return a;
    // In whole microseconds, so that the result is the double that its text
    // (FormatClock) reads back as.
    constexpr int64_t kDayUs = 86400000000;
    const int64_t from = (dated ? DaysFromDate(a.date) * kDayUs : 0) + std::llround(a.secondOfDay * 1e6);
    int64_t to = (dated ? DaysFromDate(b.date) * kDayUs : 0) + std::llround(b.secondOfDay * 1e6);
    if (!dated && to < from) to += kDayUs;
    const int64_t t = from + std::llround(static_cast<double>(to - from) * w);
    const int64_t day = (t >= 0 ? t : t - kDayUs + 1) / kDayUs;
    TraceTime out;
    out.secondOfDay = static_cast<double>(t - day * kDayUs) / 1e6;
    out.date = dated ? DateFromDays(day) : a.date;
    return out;
}

std::string FormatClock(double secondOfDay, const char* separator) {
    // Microseconds, rounded once, so that 59.9999996 s becomes the next
    // minute; from 86400 s on, a leap second (23:59:60).
    const int64_t us = std::llround(std::fmin(std::fmax(secondOfDay, 0.0), kDay + 1.0 - 1e-6) * 1e6);
    const int64_t s = std::min<int64_t>(us / 1000000, 86399);
    const int64_t second = s % 60 + (us / 1000000 - s);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d%s%02d%s%02d", static_cast<int>(s / 3600), separator,
                  static_cast<int>(s / 60 % 60), separator, static_cast<int>(second));
    std::string out = buf;
    if (us % 1000000 != 0) {
        std::snprintf(buf, sizeof buf, ".%06d", static_cast<int>(us % 1000000));
        std::string fraction = buf;
        while (fraction.back() == '0') fraction.pop_back();
        out += fraction;
    }
    return out;
}

double ParseClock(const std::string& text, char separator) {
    const size_t width = separator != 0 ? 8 : 6;
    if (text.size() < width) return kUnknown;
    int fields[3];
    for (int i = 0; i < 3; ++i) {
        const size_t at = static_cast<size_t>(i) * (separator != 0 ? 3 : 2);
        const char hi = text[at], lo = text[at + 1];
        if (hi < '0' || hi > '9' || lo < '0' || lo > '9') return kUnknown;
        if (separator != 0 && i < 2 && text[at + 2] != separator) return kUnknown;
        fields[i] = (hi - '0') * 10 + (lo - '0');
    }
    // The decimals as a whole number over a power of ten (to the
    // microsecond; later digits are dropped), so that the value is the
    // nearest double to the text: a time FormatClock wrote reads back
    // exactly, and every time read writes back as it reads.
    int64_t digits = 0, scale = 1;
    if (text.size() > width) {
        if (text[width] != '.' || text.size() == width + 1) return kUnknown;
        for (size_t i = width + 1; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9') return kUnknown;
            if (scale < 1000000) {
                digits = digits * 10 + (text[i] - '0');
                scale *= 10;
            }
        }
    }
    // A leap second reads as 60.
    if (fields[0] > 23 || fields[1] > 59 || fields[2] > 60) return kUnknown;
    const int64_t whole = fields[0] * 3600 + fields[1] * 60 + fields[2];
    return static_cast<double>(whole * scale + digits) / static_cast<double>(scale);
}

}  // namespace internal

std::string FormatTraceTime(const TraceTime& time) {
    if (!internal::HasClock(time)) return "";
    const std::string clock = internal::FormatClock(time.secondOfDay, ":");
    if (!internal::ValidDate(time.date)) return clock;
    char date[40];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d ", static_cast<int>(time.date / 10000),
                  static_cast<int>(time.date / 100 % 100), static_cast<int>(time.date % 100));
    return date + clock;
}

}  // namespace survey
}  // namespace vantir3
