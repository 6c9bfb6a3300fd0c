// CDeclarationParam reads one parameter declaration text, validates values
// against its type, bounds and resolution, and writes the value back as a
// parameter-string line (CODE=value).
//
// A declaration has nine lines: type letter, code with "=" and value,
// default, minimum, maximum, resolution, suggested value(s) separated by ";",
// label and description. Returned pointers are null or point to a
// NUL-terminated text, and stay valid until the next call on the same object.
//
// Numbers are printed independently of the locale: reals in fixed notation
// at the resolution line's number of decimals (six when there is no
// resolution line, at most 340 however many decimals that line has), whole
// numbers in full as a long. Nothing throws: a failed allocation reads as a
// refusal (false, 0 or null).
#ifndef VANTIR3_FRAMEWORK_DECLARATION_PARAM_H_
#define VANTIR3_FRAMEWORK_DECLARATION_PARAM_H_

#include <string>

#include "vantir3/export.h"

class VANTIR3_API CDeclarationParam {
public:
    enum EParamSpec {
        PS_VALUE = -1, PS_TYPE = 0, PS_CODE = 1, PS_DEFAULT = 2, PS_MIN = 3,
        PS_MAX = 4, PS_RESOLUTION = 5, PS_LIST = 6, PS_LABEL = 7, PS_DESCRIPTION = 8
    };
    CDeclarationParam();
    CDeclarationParam(const CDeclarationParam&);
    CDeclarationParam& operator=(const CDeclarationParam&);
    virtual ~CDeclarationParam();
    // Takes a declaration with its current value after "="; true when the
    // type letter is known, the text has exactly nine lines and the value
    // needs no adjustment. A null text is refused and leaves the object
    // empty; a text without "=", or without a line break after it, is kept
    // (its lines can be read) with no value.
    bool SetDefStr(const char* text);
    // The type letter, 0 when empty.
    char GetType() const;
    // The selected line (or the value for PS_VALUE); null when empty or when
    // there is no such line.
    const char* Get(EParamSpec which);
    // The value text, or with the code the line CODE=value; null while no
    // value or no declaration is held, or (with the code) when there is no
    // code line.
    const char* GetVal(bool withCode);
    // 1 stored unchanged, -1 stored after adjustment, 0 refused.
    int SetVal(const char* text);
    // Passes the held value through SetVal again; 0 when empty.
    int SetToDefault();
    // SetVal of entry `index` of the ";" list; 0 when there is none.
    int SetToListVal(int index);
    // Entries of the list line (";" count + 1); 0 for an empty list line,
    // -1 when empty.
    int GetListCount();
    // Characters after the first "." of the resolution line, 0 without a
    // ".", -1 when there is no (or an empty) resolution line.
    int GetPrecision();
    // Rounds value with KOL::Round by the resolution truncated to a whole
    // number (so resolutions below 1 leave every value alone); true when
    // the value came back unchanged.
    bool ExactResolution(double& value);
    // The declaration with the current value after its first "="; null
    // when it has no "=".
    const char* GetDefinition();
private:
    // Copies line `line` (from 0) of the declaration into scratch_; false
    // (scratch_ cleared) when there is no such line.
    bool ParamToTmp(int line);

    std::string value_;
    std::string declaration_;
    std::string scratch_;
};

#endif  // VANTIR3_FRAMEWORK_DECLARATION_PARAM_H_
