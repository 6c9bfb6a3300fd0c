#include "vantir3/framework/declaration_param.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <string>

#include "kol_utils/kol_utils.h"
#include "vantir3/framework/status.h"

namespace {

// Decimals printed when the declaration gives no resolution line.
constexpr int kDefaultPrecision = 6;
// Most decimals ever printed: beyond ~340 a double has no further digits
// to show, and a hostile resolution line must not make the text unbounded.
constexpr int kMaxPrecision = 340;
// Fits DBL_MAX in fixed notation (309 digits), a sign, the point and
// kMaxPrecision decimals.
constexpr int kNumberBufferSize = 700;

// Fixed-point printing as "%.*f" does it, but independent of the locale.
std::string PrintFixed(double value, int precision) {
    if (precision < 0) precision = kDefaultPrecision;
    if (precision > kMaxPrecision) precision = kMaxPrecision;
    char buffer[kNumberBufferSize];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::fixed, precision);
    if (result.ec != std::errc()) return std::string();
    return std::string(buffer, result.ptr);
}

std::string PrintWhole(long value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// A double already rounded to a whole number, as a long; saturates instead
// of overflowing.
long ToLong(double value) {
    if (value >= 9223372036854775807.0) return LONG_MAX;
    if (value <= -9223372036854775808.0) return LONG_MIN;
    return static_cast<long>(value);  // truncates toward zero
}

}  // namespace

CDeclarationParam::CDeclarationParam() = default;
CDeclarationParam::CDeclarationParam(const CDeclarationParam&) = default;
CDeclarationParam& CDeclarationParam::operator=(const CDeclarationParam&) = default;
CDeclarationParam::~CDeclarationParam() = default;

bool CDeclarationParam::SetDefStr(const char* text) {
    value_.clear();
    declaration_.clear();
    if (text == nullptr) return false;
    try {
        declaration_ = text;
        switch (declaration_[0]) {
            case 'C': case 'D': case 'F': case 'L': case 'S': case 'T': case 'l':
                break;
            default:
                declaration_.clear();
                return false;
        }
        const size_t equals = declaration_.find('=');
        if (equals == std::string::npos) return false;
        const size_t lineEnd = declaration_.find('\n', equals);
        if (lineEnd == std::string::npos) return false;
        value_.assign(declaration_, equals + 1, lineEnd - equals - 1);
        declaration_.erase(equals + 1, lineEnd - equals - 1);
        size_t lineBreaks = 0;
        for (char c : declaration_) {
            if (c == '\n') ++lineBreaks;
        }
        if (lineBreaks == 8) {
            const std::string held = value_;
            if (SetVal(held.c_str()) == 1) return true;
        }
    } catch (...) {
    }
    value_.clear();
    declaration_.clear();
    return false;
}

char CDeclarationParam::GetType() const {
    return declaration_.empty() ? '\0' : declaration_[0];
}

const char* CDeclarationParam::Get(EParamSpec which) {
    if (declaration_.empty()) return nullptr;
    if (which == PS_VALUE) return GetVal(false);
    return ParamToTmp(which) ? scratch_.c_str() : nullptr;
}

const char* CDeclarationParam::GetVal(bool withCode) {
    if (value_.empty() || declaration_.empty()) return nullptr;
    if (!withCode) return value_.c_str();
    if (!ParamToTmp(PS_CODE)) return nullptr;
    try {
        scratch_ += value_;
    } catch (...) {
        scratch_.clear();
        return nullptr;
    }
    return scratch_.c_str();
}

int CDeclarationParam::SetVal(const char* text) {
    if (text == nullptr || declaration_.empty()) return vantir3::kSetValRefused;
    try {
        // The text may point into this object's own strings, which the
        // line look-ups below overwrite: work on a copy.
        std::string result(text);
        bool exact = true;
        switch (declaration_[0]) {
            case 'C':
                if (result.size() > 1) {
                    result.resize(1);
                    exact = false;
                }
                break;
            case 'D':
            case 'F': {
                double number = 0.0;
                if (KOL::IsNotRealNumber(result.c_str(), true, true, &number) != 0) return vantir3::kSetValRefused;
                exact = ExactResolution(number);
                double bound = 0.0;
                const char* line = Get(PS_MIN);
                if (line != nullptr && KOL::IsNotRealNumber(line, true, true, &bound) == 0 &&
                    bound > number) {
                    number = bound;
                    exact = false;
                }
                line = Get(PS_MAX);
                if (line != nullptr && KOL::IsNotRealNumber(line, true, true, &bound) == 0 &&
                    number > bound) {
                    number = bound;
                    exact = false;
                }
                result = PrintFixed(number, GetPrecision());
                break;
            }
            case 'L':
            case 'S':
            case 'l':
            case 's': {
                const bool allowNegative = declaration_[0] == 'L' || declaration_[0] == 'S';
                long number = 0;
                if (KOL::IsNotWholeNumber(result.c_str(), allowNegative, true, &number) != 0) {
                    return vantir3::kSetValRefused;
                }
                double rounded = static_cast<double>(number);
                exact = ExactResolution(rounded);
                number = ToLong(std::trunc(rounded));
                long bound = 0;
                const char* line = Get(PS_MIN);
                if (line != nullptr &&
                    KOL::IsNotWholeNumber(line, allowNegative, true, &bound) == 0 &&
                    number < bound) {
                    number = bound;
                    exact = false;
                }
                line = Get(PS_MAX);
                if (line != nullptr &&
                    KOL::IsNotWholeNumber(line, allowNegative, true, &bound) == 0 &&
                    number > bound) {
                    number = bound;
                    exact = false;
                }
                result = PrintWhole(number);
                break;
            }
            case 'T':
                break;
            default:
                return vantir3::kSetValRefused;
        }
        value_.swap(result);
        return exact ? vantir3::kSetValStored : vantir3::kSetValAdjusted;
    } catch (...) {
        return vantir3::kSetValRefused;
    }
}

int CDeclarationParam::SetToDefault() {
    if (declaration_.empty()) return vantir3::kSetValRefused;
    return SetVal(GetVal(false));
}

int CDeclarationParam::SetToListVal(int index) {
    if (index < 0 || declaration_.empty()) return vantir3::kSetValRefused;
    if (!ParamToTmp(PS_LIST) || scratch_.empty()) return vantir3::kSetValRefused;
    try {
        const KOL::CStr list(scratch_);
        size_t position = 0;
        for (int entry = 0; position != std::string::npos; ++entry) {
            const KOL::CStr token = list.Token(";", position);
            if (entry == index) return SetVal(token.c_str());
        }
    } catch (...) {
    }
    return vantir3::kSetValRefused;
}

int CDeclarationParam::GetListCount() {
    if (declaration_.empty()) return -1;
    if (!ParamToTmp(PS_LIST) || scratch_.empty()) return 0;
    long count = 1;
    for (char c : scratch_) {
        if (c == ';' && count < INT_MAX) ++count;
    }
    return static_cast<int>(count);
}

int CDeclarationParam::GetPrecision() {
    if (!ParamToTmp(PS_RESOLUTION) || scratch_.empty()) return -1;
    const size_t point = scratch_.find('.');
    if (point == std::string::npos) return 0;
    const size_t decimals = scratch_.size() - point - 1;
    return decimals > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(decimals);
}

bool CDeclarationParam::ExactResolution(double& value) {
    const double original = value;
    double resolution = 0.0;
    if (ParamToTmp(PS_RESOLUTION) && !scratch_.empty() &&
        KOL::IsNotRealNumber(scratch_.c_str(), false, true, &resolution) == 0 &&
        resolution > 0.0) {
        const int n = resolution >= static_cast<double>(INT_MAX)
                          ? INT_MAX
                          : static_cast<int>(resolution);  // truncates toward zero
        value = KOL::Round(value, n);
    }
    return value == original;
}

const char* CDeclarationParam::GetDefinition() {
    const size_t equals = declaration_.find('=');
    if (equals == std::string::npos) return nullptr;
    try {
        scratch_ = declaration_;
        scratch_.insert(equals + 1, value_);
    } catch (...) {
        scratch_.clear();
        return nullptr;
    }
    return scratch_.c_str();
}

bool CDeclarationParam::ParamToTmp(int line) {
    scratch_.clear();
    if (line < 0) return false;
    try {
        const KOL::CStr text(declaration_);
        size_t position = 0;
        for (int current = 0; position != std::string::npos; ++current) {
            KOL::CStr token = text.Token("\n", position);
            if (current == line) {
                scratch_.swap(token);
                return true;
            }
        }
    } catch (...) {
        scratch_.clear();
    }
    return false;
}
