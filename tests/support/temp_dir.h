// A scratch folder for the survey-file tests, and whole-file byte I/O.
#ifndef VANTIR3_TESTS_SUPPORT_TEMP_DIR_H_
#define VANTIR3_TESTS_SUPPORT_TEMP_DIR_H_

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vantir3_test {

// A folder under /tmp removed with its files at the end of a test.
class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/vantir3_test_XXXXXX";
        const char* made = ::mkdtemp(name);
        path_ = made != nullptr ? made : "/tmp";
    }
    ~TempDir() {
        for (const std::string& f : files_) ::unlink(f.c_str());
        if (path_ != "/tmp") ::rmdir(path_.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // A path in the folder, removed at the end.
    std::string File(const std::string& name) {
        files_.push_back(path_ + "/" + name);
        return files_.back();
    }

private:
    std::string path_;
    std::vector<std::string> files_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace vantir3_test

#endif  // VANTIR3_TESTS_SUPPORT_TEMP_DIR_H_
