// Host of the installed survey library: names formats and catches the
// library's exception type across the library boundary. Exit status 0 when
// every check holds.
#include <cstdio>
#include <cstring>

#include "vantir3_survey/survey.h"

int main() {
    int failures = 0;
    if (std::strcmp(vantir3::survey::FormatName(vantir3::survey::FormatFromPath("line1.DZT")), "DZT") != 0) {
        std::fputs("survey host: FormatFromPath(line1.DZT) is not DZT\n", stderr);
        ++failures;
    }
    try {
        vantir3::survey::FormatFromPath("notes.txt");
        std::fputs("survey host: no SurveyError for notes.txt\n", stderr);
        ++failures;
    } catch (const vantir3::survey::SurveyError&) {
    }
    if (failures == 0) std::puts("survey host: ok");
    return failures == 0 ? 0 : 1;
}
