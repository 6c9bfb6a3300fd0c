// CProcessChain: an ordered sequence of processes over one raw data source.
// The first process reads from the raw source, each further one from the one
// before it; the host reads the processed data from ResultData().
#ifndef VANTIR3_FRAMEWORK_PROCESS_CHAIN_H_
#define VANTIR3_FRAMEWORK_PROCESS_CHAIN_H_

#include <cstdint>
#include <vector>

#include "vantir3/export.h"
#include "vantir3/framework/process.h"
#include "vantir3/framework/toolbox.h"

class VANTIR3_API CProcessChain {
public:
    explicit CProcessChain(const ICdpDataSource* source);
    virtual ~CProcessChain();
    CProcessChain(const CProcessChain&) = delete;
    CProcessChain& operator=(const CProcessChain&) = delete;
    // Creates a process of type uid with its defaults and puts it before the
    // one at position (appends for a negative position or position Size()).
    bool AddProcess(uint32_t uid, int position, bool unused);
    // Takes the process out of the chain; the chain's toolbox still owns it.
    bool RemoveProcess(uint32_t index);
    CCdpProcess* GetProcessPtr(uint32_t index);
    uint32_t Size() const;
    const ICdpDataSource* ResultData() const;
    CCdpProcessToolbox* GetToolboxPtr();
private:
    void LinkSources();

    const ICdpDataSource* rawSource_;
    const ICdpDataSource* lastSource_;
    std::vector<CCdpProcess*> steps_;
    CCdpProcessToolbox toolbox_;
};

#endif  // VANTIR3_FRAMEWORK_PROCESS_CHAIN_H_
