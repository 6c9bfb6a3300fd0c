// What the survey fuzz targets share: a finding aborts with the failed
// condition named, and fuzz input becomes a file the readers can open (an
// anonymous memory file reached through /proc/self/fd).
#ifndef VANTIR3_FUZZ_FUZZ_SUPPORT_H_
#define VANTIR3_FUZZ_FUZZ_SUPPORT_H_

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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

#endif  // VANTIR3_FUZZ_FUZZ_SUPPORT_H_
