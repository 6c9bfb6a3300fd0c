// The "KEY = value" / "KEY:value" text companions of the DT1 (.HD) and
// RD3/RD7 (.RAD) formats: lookup by key whatever the line ends and padding,
// rewriting of chosen values with everything else kept, and the number
// formatting both writers use.
#ifndef VANTIR3_SURVEY_TEXT_HEADER_H_
#define VANTIR3_SURVEY_TEXT_HEADER_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vantir3 {
namespace survey {
namespace internal {

// The key-value lines of one text companion. Keys are matched without
// regard to case or the spaces around them; lines without the separator
// are ignored; the first of repeated keys counts.
class KeyValueText {
public:
    // path names the companion in errors.
    KeyValueText(std::string path, const std::string& text, char separator);

    const std::string& path() const { return path_; }
    bool Has(const std::string& key) const;
    // The trimmed value; "" when the key is absent.
    std::string Text(const std::string& key) const;
    // The value as a number; NaN when absent or not a number.
    double Number(const std::string& key) const;
    // The value as a whole number in [lo, hi]; throws SurveyError naming
    // the companion and the key when absent, not whole or out of range.
    int64_t Integer(const std::string& key, int64_t lo, int64_t hi) const;
    [[noreturn]] void Fail(const std::string& key, const std::string& what) const;

private:
    std::string path_;
    std::vector<std::pair<std::string, std::string>> entries_;  // upper-case key, trimmed value
};

// text with the values of the given keys replaced in place (key padding,
// the spaces around the value and every line end kept). Keys the text lacks
// are appended as key + joiner + value lines, ended like the text's first line.
std::string ReplaceValues(const std::string& text, char separator,
                          const std::vector<std::pair<std::string, std::string>>& values,
                          const std::string& joiner);

// The shortest decimal text that reads back as exactly v.
std::string FormatNumber(double v);

// The number a name starts with ("500_shielded" -> 500, "250 MHz" -> 250);
// NaN when it starts with none.
double LeadingNumber(const std::string& text);

}  // namespace internal
}  // namespace survey
}  // namespace vantir3

#endif  // VANTIR3_SURVEY_TEXT_HEADER_H_
