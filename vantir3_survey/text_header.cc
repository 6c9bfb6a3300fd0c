// Key-value text companions (.HD, .RAD): parsing by key and value rewriting.
#include "vantir3_survey/text_header.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "vantir3_survey/format_io.h"

namespace vantir3 {
namespace survey {
namespace internal {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\0'; }

}  // namespace

KeyValueText::KeyValueText(std::string path, const std::string& text, char separator)
    : path_(std::move(path)) {
    for (const std::string& line : SplitLines(text)) {
        const size_t sep = line.find(separator);
        if (sep == std::string::npos) continue;
        const std::string key = Upper(Trim(line.substr(0, sep)));
        if (key.empty() || Has(key)) continue;
        entries_.emplace_back(key, Trim(line.substr(sep + 1)));
    }
}

bool KeyValueText::Has(const std::string& key) const {
    const std::string k = Upper(key);
    for (const auto& e : entries_) {
        if (e.first == k) return true;
    }
    return false;
}

std::string KeyValueText::Text(const std::string& key) const {
    const std::string k = Upper(key);
    for (const auto& e : entries_) {
        if (e.first == k) return e.second;
    }
    return "";
}

double KeyValueText::Number(const std::string& key) const { return ParseNumber(Text(key)); }

int64_t KeyValueText::Integer(const std::string& key, int64_t lo, int64_t hi) const {
    if (!Has(key)) Fail(key, "missing");
    const double v = Number(key);
    if (std::isnan(v) || v != std::floor(v)) Fail(key, "'" + Text(key) + "' is not a whole number");
    if (v < static_cast<double>(lo) || v > static_cast<double>(hi)) {
        Fail(key, Text(key) + " is outside " + std::to_string(lo) + " .. " + std::to_string(hi));
    }
    return static_cast<int64_t>(v);
}

void KeyValueText::Fail(const std::string& key, const std::string& what) const {
    throw SurveyError(path_, key, what);
}

std::string ReplaceValues(const std::string& text, char separator,
                          const std::vector<std::pair<std::string, std::string>>& values,
                          const std::string& joiner) {
    std::vector<bool> done(values.size(), false);
    std::string out;
    out.reserve(text.size() + 64);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = pos;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
        std::string line = text.substr(pos, end - pos);
        const size_t sep = line.find(separator);
        if (sep != std::string::npos) {
            const std::string key = Upper(Trim(line.substr(0, sep)));
            for (size_t i = 0; i < values.size(); ++i) {
                if (done[i] || Upper(values[i].first) != key) continue;
                size_t b = sep + 1, e = line.size();
                while (b < e && IsBlank(line[b])) ++b;
                while (e > b && IsBlank(line[e - 1])) --e;
                line = line.substr(0, b) + values[i].second + line.substr(e);
                done[i] = true;
                break;
            }
        }
        out += line;
        // The line's own end, whatever it is.
        size_t next = end;
        while (next < text.size() && (text[next] == '\r' || text[next] == '\n')) {
            if (text[next] == '\n') { ++next; break; }
            ++next;
        }
        out.append(text, end, next - end);
        pos = next;
    }
    const bool cr = text.find('\r') != std::string::npos, lf = text.find('\n') != std::string::npos;
    const std::string newline = cr && !lf ? "\r" : !cr && lf ? "\n" : "\r\n";
    for (size_t i = 0; i < values.size(); ++i) {
        if (done[i]) continue;
        if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += newline;
        out += values[i].first + joiner + values[i].second + newline;
    }
    return out;
}

std::string FormatNumber(double v) {
    char buf[40];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        if (std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

double LeadingNumber(const std::string& text) {
    const std::string t = Trim(text);
    size_t n = 0;
    while (n < t.size() && (std::isdigit(static_cast<unsigned char>(t[n])) || t[n] == '.')) ++n;
    return ParseNumber(t.substr(0, n));
}

}  // namespace internal
}  // namespace survey
}  // namespace vantir3
