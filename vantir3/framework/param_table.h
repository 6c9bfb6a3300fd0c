// The parameter machinery that every process shares: a static declaration
// table per process, the parameter string ("CODE=value" lines) that
// SetParams reads and GetParams writes, and the declaration texts from which
// a host builds its parameter dialogs. A process class supplies its table and
// the addresses of its parameter values; everything else is generic.
#ifndef VANTIR3_FRAMEWORK_PARAM_TABLE_H_
#define VANTIR3_FRAMEWORK_PARAM_TABLE_H_

#include <cstdint>
#include <string>

#include "vantir3/framework/process.h"

namespace vantir3 {

// One parameter of a declaration table.
struct ParamDecl {
    char code[7];            // six-character code plus terminator
    char type;               // type letter (all current parameters are 'D')
    int32_t precision;       // decimals printed for this parameter's numbers
    double defaultValue;
    double minimum;
    double maximum;
    double resolution;       // 0 allows every value between the bounds
    const char* definition;  // suggested value(s), label, description[, units]
};

// The static declaration table of a process type.
struct ProcessDecl {
    const char* code;         // six-character process code
    const char* name;         // display name
    const char* description;  // one paragraph
    uint32_t count;           // number of parameters
    const ParamDecl* params;
};

// Upper bound on the number of parameters of one process.
constexpr uint32_t kMaxParams = 8;

// True when value lies within [minimum, maximum] and, for a resolution above
// 0, on the grid of whole multiples of the resolution counted from zero. The
// grid test allows for the representation error of decimal values (1.5 passes
// at 0.1, 1.55 does not); where the grid is finer than the spacing of doubles
// every value is on it. NaN never passes.
bool IsValidParamValue(double value, double minimum, double maximum, double resolution);

// Reads the leading number of text the way atof does, locale-independently:
// blanks are skipped, then the longest prefix made of an optional sign,
// digits, an optional decimal point with digits and an optional exponent is
// converted; 0 when there is none.
double ReadLeadingNumber(const char* text);

// "%.*f" without the locale: a fixed-point number with `precision` decimals
// (limited to 0 ... 340).
std::string FormatFixed(double value, int precision);

// Parses a parameter string into the values addressed by slots (one per
// parameter of decl, in declaration order). 0: every line applied; n > 0:
// line n was the first whose value was refused (that value kept, parsing
// went on); -n: line n was malformed or named a code that decl does not
// declare (parsing stopped there); -9999: no memory for the working copy.
int ParseParamString(const ProcessDecl& decl, double* const* slots, const char* text);

// The parameter string of decl with the given values: one CODE=value line per
// parameter at its precision, no line break after the last. Writes at most
// size characters including the terminator; returns the full length.
int FormatParamString(const ProcessDecl& decl, const double* values, char* buffer, unsigned size);

// The declaration text of index: -2 the description, -1 the display name,
// 0 ... count-1 the parameter declaration (type letter, code and "=",
// default, minimum, maximum, resolution at the parameter's precision, then
// its definition text). Writes at most size characters including the
// terminator and returns the full length; 0 for an index that names nothing.
int BuildDeclaration(const ProcessDecl& decl, char* buffer, unsigned size, int index);

// Copies text into buffer (at most size characters including the
// terminator) and returns the length of text.
int CopyTruncated(const std::string& text, char* buffer, unsigned size);

// A process whose parameters are described by a declaration table. Derived
// classes pass their table to the constructor, implement ParamSlot and
// ProcessData, and call SetDefaults() in their constructor once their
// parameter storage exists.
class CTableProcess : public CCdpProcess {
public:
    uint32_t GetProcessUID() const override;
    int SetParams(const char* params) override;
    uint32_t GetParamCount() const override;
    int FormatParams(char* buffer, unsigned size) override;
    int FormatDeclaration(std::string& currentValue, char* buffer, unsigned size,
                          int index) override;

protected:
    explicit CTableProcess(const ProcessDecl& decl) : decl_(decl) {}
    // Address of the value of parameter index (declaration order).
    virtual double* ParamSlot(uint32_t index) = 0;
    // Sets every parameter to its declared default.
    void SetDefaults();
    const ProcessDecl& Decl() const { return decl_; }

private:
    const ProcessDecl& decl_;
};

}  // namespace vantir3

#endif  // VANTIR3_FRAMEWORK_PARAM_TABLE_H_
