// What the survey fuzz targets share: a finding aborts with the failed
// condition named, and fuzz input becomes a file the readers can open (an
// anonymous memory file reached through /proc/self/fd).
#ifndef VANTIR3_FUZZ_FUZZ_SUPPORT_H_
#define VANTIR3_FUZZ_FUZZ_SUPPORT_H_

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vantir3_survey/survey.h"
#include "vantir3_survey/trace_time.h"

namespace vantir3_fuzz {

[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz finding: %s\n", what);
    std::abort();
}

// An anonymous memory file holding bytes, closed at the end of its scope.
class MemoryFile {
public:
    MemoryFile(const uint8_t* data, size_t size) : fd_(::memfd_create("vantir3_fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0) Fail("memfd_create failed");
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n <= 0) Fail("write to the memory file failed");
            done += static_cast<size_t>(n);
        }
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

}  // namespace vantir3_fuzz

#define FUZZ_REQUIRE(cond)                                \
    do {                                                  \
        if (!(cond)) ::vantir3_fuzz::Fail(#cond);         \
    } while (0)

namespace vantir3_fuzz {

// The trace times a reader gives are what every writer accepts: one per
// trace or none, each a calendar day or none and a time within the day or
// none.
inline void CheckTraceTimes(const vantir3::survey::SurveyFile& f) {
    for (const vantir3::survey::Acquisition& a : f.acquisitions()) {
        FUZZ_REQUIRE(a.traceTimes.empty() || static_cast<int64_t>(a.traceTimes.size()) == a.traces);
        for (const vantir3::survey::TraceTime& t : a.traceTimes) {
            FUZZ_REQUIRE(t.date == 0 || vantir3::survey::internal::ValidDate(t.date));
            FUZZ_REQUIRE(std::isnan(t.secondOfDay) || vantir3::survey::internal::WithinDay(t.secondOfDay));
        }
    }
}

}  // namespace vantir3_fuzz

#endif  // VANTIR3_FUZZ_FUZZ_SUPPORT_H_
