// The file-backed data source: serves any region of traces of one channel,
// reading exactly those traces from the file.
#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "vantir3_survey/survey.h"

namespace vantir3 {
namespace survey {

namespace {

Mebo3DDataAxis FullRange(const SurveyFile& file) {
    Mebo3DDataAxis r;
    std::memset(&r, 0, sizeof r);
    r.elemSize = 2;
    const int64_t traces = std::min<int64_t>(file.traceCount(), std::numeric_limits<int32_t>::max());
    r.dim[0] = {2, 0, file.sampleCount() - 1};
    r.dim[1] = {2 * file.sampleCount(), 0, static_cast<int32_t>(traces - 1)};
    r.dim[2] = {static_cast<int32_t>(std::min<int64_t>(2 * file.sampleCount() * traces,
                                                       std::numeric_limits<int32_t>::max())),
                0, 0};
    return r;
}

}  // namespace

FileSource::FileSource(const SurveyFile& file, int32_t channel)
    : FileSource(file, channel, file.acquisition(channel).GprParam()) {}

FileSource::FileSource(const SurveyFile& file, int32_t channel, const ICdpDataSource::SEGprParam& gpr)
    : file_(file), channel_(channel), gpr_(gpr), range_(FullRange(file)) {
    file.acquisition(channel);  // throws for a channel that does not exist
}

FileSource::~FileSource() = default;

const ICdpDataSource::SEGprParam* FileSource::GprParamPtr() const { return &gpr_; }

bool FileSource::GetAvailableRange(Mebo3DDataAxis* range, int) const {
    if (range == nullptr) return false;
    *range = range_;
    return true;
}

int FileSource::GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis* region, const void*) const {
    MeboDataPtrRelease(&out);
    Mebo3DDataAxis common = range_;
    if (region != nullptr && MeboIntersectRanges(&common, &range_, region, 0, 3) < 0) return -1;
    const MeboAxisDim* d = common.dim;
    if (!MeboDataPtrAllocate(&out, 2, d[0].min, d[0].max, d[1].min, d[1].max, 0, 0, 0)) return -1;
    const int64_t samples = file_.sampleCount();
    const int64_t first = d[1].min;
    const int64_t count = int64_t{d[1].max} - d[1].min + 1;
    const int64_t width = int64_t{d[0].max} - d[0].min + 1;
    int16_t* dst = reinterpret_cast<int16_t*>(out.storage->data);
    try {
        if (width == samples) {
            // Whole traces: read straight into the output.
            Read(first, count, dst);
        } else {
            // Part of each trace: whole traces through a bounded scratch.
            const int64_t perRead = std::max<int64_t>(1, (4 << 20) / (2 * samples));
            std::vector<int16_t> scratch(static_cast<size_t>(std::min(perRead, count) * samples));
            for (int64_t k = 0; k < count; k += perRead) {
                const int64_t n = std::min(perRead, count - k);
                Read(first + k, n, scratch.data());
                for (int64_t j = 0; j < n; ++j) {
                    std::memcpy(dst + (k + j) * width, scratch.data() + j * samples + d[0].min,
                                static_cast<size_t>(2 * width));
                }
            }
        }
    } catch (const std::exception& e) {
        lastError_ = e.what();
        MeboDataPtrRelease(&out);
        return -1;
    }
    return 0;
}

void FileSource::CaptureTraceWords(int64_t first, int64_t count, uint8_t* words) {
    captureFirst_ = first;
    captureCount_ = count > 0 && words != nullptr ? count : 0;
    captureWords_ = words;
    captureDone_.assign(static_cast<size_t>(captureCount_), 0);
    captured_ = 0;
}

void FileSource::Read(int64_t first, int64_t count, int16_t* out) const {
    const int64_t begin = std::max(first, captureFirst_), end = std::min(first + count, captureFirst_ + captureCount_);
    if (begin >= end) {
        file_.ReadTraces16(channel_, first, count, out);
        return;
    }
    const int64_t wordBytes = file_.TraceWordBytes();
    readWords_.resize(static_cast<size_t>(count * wordBytes));
    file_.ReadTraces16(channel_, first, count, out, readWords_.data());
    if (wordBytes > 0) {
        std::memcpy(captureWords_ + (begin - captureFirst_) * wordBytes, readWords_.data() + (begin - first) * wordBytes,
                    static_cast<size_t>((end - begin) * wordBytes));
    }
    for (int64_t t = begin; t < end; ++t) {
        uint8_t& done = captureDone_[static_cast<size_t>(t - captureFirst_)];
        captured_ += 1 - done;
        done = 1;
    }
}

bool FileSource::SourceChanged(const void*) const { return false; }

uint32_t FileSource::EdgeEffect(bool) const { return 0; }

}  // namespace survey
}  // namespace vantir3
