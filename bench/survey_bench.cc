// Survey files: reading a 16-bit file into 16-bit sample buffers against
// reading its bytes (same file, same run, warm page cache), and the
// file-backed source walking a generated file of over 1 GB region by region,
// with the peak resident memory of the walk reported.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_profile.h"
#include "vantir3_survey/survey.h"

namespace {

using namespace vantir3_bench;
namespace vs = vantir3::survey;

std::string TempDir() {
    const char* t = std::getenv("TMPDIR");
    return t != nullptr && *t != '\0' ? t : "/tmp";
}

// Writes `traces` traces of the benchmark profile (repeated) as a 16-bit DZT.
std::string WriteProfileFile(const std::string& name, int64_t traces) {
    const std::string path = TempDir() + "/" + name;
    vs::Acquisition a;
    a.format = vs::Format::kDzt;
    a.traces = traces;
    a.samples = kSamples;
    a.sampleType = vs::SampleType::kU16;
    a.sampleIntervalNs = ProfileGpr().sampleInterval;
    a.antennaFrequencyMHz = ProfileGpr().antennaFrequency;
    a.traceSpacingM = 0.02;
    std::unique_ptr<vs::SurveyWriter> w = vs::SurveyWriter::Create(path, {a});
    const int16_t* p = reinterpret_cast<const int16_t*>(Profile().storage->data);
    for (int64_t done = 0; done < traces; done += kTraces) {
        const int64_t n = std::min<int64_t>(kTraces, traces - done);
        w->WriteScans16(p, n);
    }
    w->Commit();
    return path;
}

const std::string& ProfileFile() {
    static const std::string path = WriteProfileFile("vantir3_bench_profile.DZT", kTraces);
    return path;
}

void BM_SurveyReadBytesBaseline(benchmark::State& state) {
    const std::string& path = ProfileFile();
    struct stat st;
    ::stat(path.c_str(), &st);
    std::vector<uint8_t> buf(static_cast<size_t>(st.st_size));
    const int fd = ::open(path.c_str(), O_RDONLY);
    for (auto _ : state) {
        for (off_t done = 0; done < st.st_size;) {
            const ssize_t n = ::pread(fd, buf.data() + done, static_cast<size_t>(st.st_size - done), done);
            if (n <= 0) break;
            done += n;
        }
        benchmark::ClobberMemory();
    }
    ::close(fd);
    ReportSamples(state);
}
BENCHMARK(BM_SurveyReadBytesBaseline)->Unit(benchmark::kMillisecond);

void BM_SurveyRead16(benchmark::State& state) {
    std::unique_ptr<vs::SurveyFile> f = vs::SurveyFile::Open(ProfileFile());
    MeboDataPtr out = NewOutput();
    int16_t* o = reinterpret_cast<int16_t*>(out.storage->data);
    for (auto _ : state) {
        f->ReadTraces16(0, 0, f->traceCount(), o);
        benchmark::ClobberMemory();
    }
    ReportSamples(state);
    MeboDataPtrRelease(&out);
}
BENCHMARK(BM_SurveyRead16)->Unit(benchmark::kMillisecond);

// Peak resident memory since the last reset, in MiB (Linux).
double PeakRssMiB() {
    std::ifstream s("/proc/self/status");
    std::string line;
    while (std::getline(s, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    }
    return 0.0;
}
void ResetPeakRss() {
    std::ofstream c("/proc/self/clear_refs");
    c << "5";
}

// A chain-sized walk over a 1.06 GB file: regions of 4096 traces are served
// one after the other; memory must follow the region (8 MiB), not the file.
void BM_SurveyFileSourceLarge(benchmark::State& state) {
    constexpr int64_t kLargeTraces = 32 * kTraces;  // 524288 x 1024 x 2 B
    const std::string path = WriteProfileFile("vantir3_bench_large.DZT", kLargeTraces);
    double peak = 0.0;
    {
        std::unique_ptr<vs::SurveyFile> f = vs::SurveyFile::Open(path);
        vs::FileSource source(*f);
        Mebo3DDataAxis region;
        source.GetAvailableRange(&region, 0);
        MeboDataPtr out;
        MeboDataPtrClear(&out);
        const double before = PeakRssMiB();
        for (auto _ : state) {
            ResetPeakRss();
            for (int32_t first = 0; first < kLargeTraces; first += 4096) {
                region.dim[1].min = first;
                region.dim[1].max = first + 4095;
                if (source.GetDataCdp(out, &region, nullptr) < 0) state.SkipWithError("read failed");
            }
            peak = PeakRssMiB();
        }
        MeboDataPtrRelease(&out);
        state.counters["rss_before_MiB"] = before;
    }
    std::remove(path.c_str());
    state.counters["peak_rss_MiB"] = peak;
    state.counters["file_MiB"] = static_cast<double>(kLargeTraces * kSamples * 2) / (1 << 20);
    ReportSamples(state, kLargeTraces * kSamples);
}
BENCHMARK(BM_SurveyFileSourceLarge)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
