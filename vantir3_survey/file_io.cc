// Names, errors, bounded file reads and the text helpers every header
// parser uses.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <dirent.h>

#include "vantir3_survey/format_io.h"

namespace vantir3 {
namespace survey {

namespace {

using internal::Lower;

std::string Extension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return Lower(path.substr(dot));
}

std::string ErrorMessage(const std::string& file, const std::string& field,
                         const std::string& what, int64_t offset) {
    std::string m = file + ": ";
    if (!field.empty()) m += field + ": ";
    m += what;
    if (offset >= 0) m += " (at byte " + std::to_string(offset) + ")";
    return m;
}

}  // namespace

const char* FormatName(Format format) {
    switch (format) {
        case Format::kDzt: return "DZT";
        case Format::kDt1: return "DT1";
        case Format::kRd3: return "RD3";
        case Format::kRd7: return "RD7";
        case Format::kSegy: return "SEG-Y";
    }
    return "?";
}

Format FormatFromPath(const std::string& path) {
    const std::string ext = Extension(path);
    if (ext == ".dzt") return Format::kDzt;
    if (ext == ".dt1") return Format::kDt1;
    if (ext == ".rd3") return Format::kRd3;
    if (ext == ".rd7") return Format::kRd7;
    if (ext == ".sgy" || ext == ".segy") return Format::kSegy;
    throw SurveyError(path, "", ext.empty() ? "no file extension to tell the format by"
                                            : "unknown survey format '" + ext +
                                                  "' (known: .DZT, .DT1, .RD3, .RD7, .SGY, .SEGY)");
}

const char* SampleTypeName(SampleType type) {
    switch (type) {
        case SampleType::kU8: return "u8";
        case SampleType::kI8: return "i8";
        case SampleType::kU16: return "u16";
        case SampleType::kI16: return "i16";
        case SampleType::kI32: return "i32";
        case SampleType::kF32: return "f32";
        case SampleType::kIbm32: return "ibm32";
    }
    return "?";
}

int SampleTypeBytes(SampleType type) {
    switch (type) {
        case SampleType::kU8:
        case SampleType::kI8: return 1;
        case SampleType::kU16:
        case SampleType::kI16: return 2;
        default: return 4;
    }
}

SurveyError::SurveyError(const std::string& file, const std::string& field,
                         const std::string& what, int64_t offset)
    : std::runtime_error(ErrorMessage(file, field, what, offset)),
      file_(file), field_(field), detail_(what), offset_(offset) {}

ICdpDataSource::SEGprParam Acquisition::GprParam() const {
    ICdpDataSource::SEGprParam p;
    p.hostField = 0.0;
    p.timeZeroSample = timeZeroSample;
    p.sampleInterval = sampleIntervalNs;
    p.antennaFrequency = antennaFrequencyMHz;
    p.antennaSeparation = std::isnan(antennaSeparationM) ? 0.0 : antennaSeparationM;
    return p;
}

namespace internal {

InputFile::InputFile(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw SurveyError(path, "", std::string("cannot open: ") + std::strerror(errno));
    struct stat st;
    const bool stated = ::fstat(fd_, &st) == 0;
    if (!stated || !S_ISREG(st.st_mode)) {
        const bool folder = stated && S_ISDIR(st.st_mode);
        ::close(fd_);
        fd_ = -1;
        throw SurveyError(path, "", folder ? "is a folder, not a survey file" : "not a regular file");
    }
    size_ = static_cast<int64_t>(st.st_size);
}

InputFile::~InputFile() {
    if (fd_ >= 0) ::close(fd_);
}

int InputFile::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void InputFile::Fail(const std::string& field, const std::string& what, int64_t offset) const {
    throw SurveyError(path_, field, what, offset);
}

namespace {

// Refuses a byte range that does not lie inside a file of `size` bytes.
void CheckInside(int64_t size, const std::string& path, const std::string& field, int64_t offset,
                 int64_t bytes) {
    if (offset < 0 || bytes < 0 || offset > size || bytes > size - offset) {
        throw SurveyError(path, field, "the file ends before " + std::to_string(bytes) +
                                           " bytes could be read (file size " + std::to_string(size) + ")",
                          offset);
    }
}

}  // namespace

void ReadFully(int fd, int64_t size, const std::string& path, const std::string& field, int64_t offset,
               void* out, int64_t bytes) {
    CheckInside(size, path, field, offset, bytes);
    uint8_t* p = static_cast<uint8_t*>(out);
    int64_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pread(fd, p + done, static_cast<size_t>(bytes - done), static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            throw SurveyError(path, field, n < 0 ? std::string("read failed: ") + std::strerror(errno)
                                                 : "the file ended while reading",
                              offset + done);
        }
        done += n;
    }
}

void InputFile::ReadAt(int64_t offset, void* out, int64_t bytes, const std::string& field) const {
    ReadFully(fd_, size_, path_, field, offset, out, bytes);
}

std::vector<uint8_t> InputFile::ReadBytes(int64_t offset, int64_t bytes, const std::string& field) const {
    CheckInside(size_, path_, field, offset, bytes);  // before sizing anything by `bytes`
    std::vector<uint8_t> out(static_cast<size_t>(bytes));
    ReadAt(offset, out.data(), bytes, field);
    return out;
}

std::string FindCompanion(const std::string& path, const std::string& extension) {
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string want = Lower(stem + extension);
    // The exact spellings first, then any case.
    for (const std::string& candidate :
         {stem + extension, stem + Lower(extension), stem + Upper(extension)}) {
        const std::string full = slash == std::string::npos ? candidate : dir + "/" + candidate;
        struct stat st;
        if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return full;
    }
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return "";
    std::string found;
    while (dirent* e = ::readdir(d)) {
        if (Lower(e->d_name) == want) {
            found = slash == std::string::npos ? std::string(e->d_name) : dir + "/" + e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

std::string ReadTextFile(const std::string& path, int64_t maxBytes) {
    InputFile f(path);
    if (f.size() > maxBytes) {
        f.Fail("", "text file of " + std::to_string(f.size()) + " bytes is larger than the " +
                       std::to_string(maxBytes) + " bytes such a file can have");
    }
    std::string text(static_cast<size_t>(f.size()), '\0');
    f.ReadAt(0, text.data(), f.size(), "text");
    return text;
}

std::string ReadCompanion(const std::string& path, const std::string& extension,
                          std::vector<std::string>& warnings, int64_t maxBytes) {
    const std::string found = FindCompanion(path, extension);
    if (found.empty()) return "";
    try {
        return ReadTextFile(found, maxBytes);
    } catch (const SurveyError& e) {
        warnings.push_back(std::string("ignored: ") + e.what());
        return "";
    }
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string cur;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(cur);
            cur.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) lines.push_back(cur);
    return lines;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t' || text[b] == '\0')) ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t' || text[e - 1] == '\0')) --e;
    return text.substr(b, e - b);
}

double ParseNumber(const std::string& text) {
    const std::string t = Trim(text);
    if (t.empty()) return kUnknown;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || errno == ERANGE || !std::isfinite(v)) return kUnknown;
    return v;
}

FormatWriter::~FormatWriter() = default;

}  // namespace internal
}  // namespace survey
}  // namespace vantir3
