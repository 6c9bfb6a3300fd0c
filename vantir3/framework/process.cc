#include "vantir3/framework/process.h"

#include <algorithm>
#include <cstring>

#include "vantir3/framework/status.h"

ICdpDataSource::ICdpDataSource() = default;
ICdpDataSource::ICdpDataSource(const ICdpDataSource&) = default;
ICdpDataSource& ICdpDataSource::operator=(const ICdpDataSource&) = default;
ICdpDataSource::~ICdpDataSource() = default;

namespace vantir3 {

CCharBuffer::CCharBuffer(unsigned capacity) : storage_(static_cast<size_t>(capacity) + 1, '\0') {}

CCharBuffer::~CCharBuffer() = default;

void CCharBuffer::SetCapacity(unsigned capacity) {
    storage_.resize(static_cast<size_t>(capacity) + 1, '\0');
    storage_.back() = '\0';
}

}  // namespace vantir3

namespace {
constexpr unsigned kInitialTextCapacity = 128;
}  // namespace

CCdpProcess::CCdpProcess() : source_(nullptr), textBuffer_(kInitialTextCapacity) {
    MeboDataPtrClear(&auxData_);
}

CCdpProcess::~CCdpProcess() { MeboDataPtrRelease(&auxData_); }

const ICdpDataSource::SEGprParam* CCdpProcess::GprParamPtr() const {
    return source_ != nullptr ? source_->GprParamPtr() : nullptr;
}

bool CCdpProcess::GetAvailableRange(Mebo3DDataAxis* range, int n) const {
    return source_ != nullptr && source_->GetAvailableRange(range, n);
}

uint32_t CCdpProcess::EdgeEffect(bool recursive) const {
    uint32_t effect = MyEdgeEffect();
    if (recursive && source_ != nullptr) effect += source_->EdgeEffect(true);
    return effect;
}

uint32_t CCdpProcess::MyEdgeEffect() const { return 0; }

bool CCdpProcess::SourceChanged(const void* requester) const {
    return std::find(requesters_.begin(), requesters_.end(), requester) != requesters_.end();
}

int CCdpProcess::SetParams(const char*) {
    requesters_.clear();
    return 0;
}

void CCdpProcess::SetDataSource(const ICdpDataSource* source) {
    source_ = source;
    SetParams("");
}

const ICdpDataSource* CCdpProcess::GetDataSource() { return source_; }

int CCdpProcess::GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis* region,
                            const void* requester) const {
    int status = vantir3::kStatusAllocationFailed;
    MeboDataPtrRelease(&out);
    if (source_ == nullptr) return vantir3::kStatusNoDataSource;
    if (!SourceChanged(requester)) requesters_.push_back(requester);

    MeboDataPtr input;
    MeboDataPtrClear(&input);
    status = source_->GetDataCdp(input, region, this);
    if (status >= 0) {
        const Mebo3DDataAxis& a = input.axis;
        if (input.storage == nullptr ||
            !MeboDataPtrAllocate(&out, a.elemSize, a.dim[0].min, a.dim[0].max, a.dim[1].min,
                                 a.dim[1].max, a.dim[2].min, a.dim[2].max, 0)) {
            status = vantir3::kStatusAllocationFailed;
        } else {
            // The compute step is a logical part of fetching: it changes no
            // parameter, so a const fetch may run it.
            const int r = const_cast<CCdpProcess*>(this)->ProcessData(out, input, nullptr);
            if (r < 0) {
                status = r;
            } else if (r > status) {
                status = r;
            }
        }
    }
    MeboDataPtrRelease(&input);
    return status;
}

std::string CCdpProcess::GetParams() {
    const int n = FormatParams(textBuffer_.Data(), textBuffer_.StorageLength());
    if (static_cast<int>(textBuffer_.Capacity()) < n) {
        textBuffer_.SetCapacity(static_cast<unsigned>(n));
        return GetParams();
    }
    return n > 0 ? std::string(textBuffer_.Data()) : std::string();
}

std::string CCdpProcess::GetDeclaration(int index) {
    std::string currentValue;
    const int n = FormatDeclaration(currentValue, textBuffer_.Data(), textBuffer_.StorageLength(), index);
    if (static_cast<int>(textBuffer_.Capacity()) < n) {
        textBuffer_.SetCapacity(static_cast<unsigned>(n));
        return GetDeclaration(index);
    }
    if (n <= 0) return std::string();
    std::string text(textBuffer_.Data());
    if (index >= 0 && !currentValue.empty()) {
        const size_t at = text.find("=\n");
        if (at != std::string::npos) text.insert(at + 1, currentValue);
    }
    return text;
}

bool CCdpProcess::GetDeclaration(std::string& out, int index) const {
    // The text buffer is scratch space; building a text changes nothing a
    // caller can observe.
    out = const_cast<CCdpProcess*>(this)->GetDeclaration(index);
    return !out.empty();
}

int CCdpProcess::SetAuxDataCdp(MeboDataPtr* aux) {
    if (aux == &auxData_) return 0;  // already held
    if (aux != nullptr) {
        MeboDataPtrShare(&auxData_, aux);
    } else {
        MeboDataPtrRelease(&auxData_);
    }
    return 0;
}

MeboDataPtr* CCdpProcess::GetAuxDataCdp() { return &auxData_; }
