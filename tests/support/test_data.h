// Where the real survey files for reader tests are: $VANTIR3_TEST_DATA, else
// the shared data folder beside the repository (set by the test build).
// Tests that need them skip when the folder is absent.
#ifndef VANTIR3_TESTS_SUPPORT_TEST_DATA_H_
#define VANTIR3_TESTS_SUPPORT_TEST_DATA_H_

#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace vantir3_test {

// The data folder, or "" when there is none.
inline std::string TestDataDir() {
    for (const char* name : {"VANTIR3_TEST_DATA", "VANTIR3_TEST_DATA_DEFAULT"}) {
        const char* dir = std::getenv(name);
        struct stat st;
        if (dir != nullptr && *dir != '\0' && ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) return dir;
    }
    return "";
}

// A file of the data folder ("dzt/x.DZT"), or "" when it is absent.
inline std::string TestDataFile(const std::string& relative) {
    const std::string dir = TestDataDir();
    if (dir.empty()) return "";
    const std::string path = dir + "/" + relative;
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? path : "";
}

}  // namespace vantir3_test

// Skips the current test when the data folder or the file is absent.
#define VANTIR3_REQUIRE_DATA(path_var, relative)                                   \
    const std::string path_var = ::vantir3_test::TestDataFile(relative);           \
    if (path_var.empty()) GTEST_SKIP() << "test data absent: " << (relative)

#endif  // VANTIR3_TESTS_SUPPORT_TEST_DATA_H_
