#include "vantir3/framework/process_chain.h"

CProcessChain::CProcessChain(const ICdpDataSource* source)
    : rawSource_(source), lastSource_(source) {}

CProcessChain::~CProcessChain() = default;  // the toolbox destroys every process

bool CProcessChain::AddProcess(uint32_t uid, int position, bool) {
    CCdpProcess* process = toolbox_.GetProcess(uid);
    if (process == nullptr) return false;
    const int64_t size = static_cast<int64_t>(steps_.size());
    if (position < 0 || position == size) {
        steps_.push_back(process);
    } else if (position > size) {
        toolbox_.ReleaseProcess(process);
        return false;
    } else {
        steps_.insert(steps_.begin() + position, process);
    }
    LinkSources();
    return true;
}

bool CProcessChain::RemoveProcess(uint32_t index) {
    if (index >= steps_.size()) return false;
    steps_.erase(steps_.begin() + index);
    LinkSources();
    return true;
}

CCdpProcess* CProcessChain::GetProcessPtr(uint32_t index) {
    return index < steps_.size() ? steps_[index] : nullptr;
}

uint32_t CProcessChain::Size() const { return static_cast<uint32_t>(steps_.size()); }

const ICdpDataSource* CProcessChain::ResultData() const { return lastSource_; }

CCdpProcessToolbox* CProcessChain::GetToolboxPtr() { return &toolbox_; }

void CProcessChain::LinkSources() {
    const ICdpDataSource* source = rawSource_;
    for (CCdpProcess* process : steps_) {
        process->SetDataSource(source);
        source = process;
    }
    lastSource_ = source;
}
