// The data-source interface and the base class of every process.
//
// Everything that yields GPR data is an ICdpDataSource: the host's raw source
// and every process. A process reads from its own source, runs its compute
// step over the requested region and hands the result back, so processes
// stack into chains.
#ifndef VANTIR3_FRAMEWORK_PROCESS_H_
#define VANTIR3_FRAMEWORK_PROCESS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vantir3/data/data_buffer.h"
#include "vantir3/export.h"

class VANTIR3_API ICdpDataSource {
public:
    // Acquisition parameters of a survey; the library only reads them.
    struct SEGprParam {
        double hostField;          // the host's own; never read by the library
        double timeZeroSample;     // 1-based position of time zero, in samples
        double sampleInterval;     // ns between two samples of a trace
        double antennaFrequency;   // antenna centre frequency, MHz
        double antennaSeparation;  // transmitter-receiver distance, m
    };
    ICdpDataSource();
    ICdpDataSource(const ICdpDataSource&);
    ICdpDataSource& operator=(const ICdpDataSource&);
    virtual const SEGprParam* GprParamPtr() const = 0;
    virtual bool GetAvailableRange(Mebo3DDataAxis* range, int n) const = 0;
    // Fills out with the samples of region (signed 16-bit, element size 2);
    // returns >= 0 on success. requester identifies the asking process.
    virtual int GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis* region,
                           const void* requester) const = 0;
    virtual bool SourceChanged(const void* requester) const = 0;
    virtual uint32_t EdgeEffect(bool recursive) const = 0;
    virtual ~ICdpDataSource();
};

namespace vantir3 {
// Growable character array: capacity characters plus a terminator.
class CCharBuffer {
public:
    explicit CCharBuffer(unsigned capacity);
    virtual ~CCharBuffer();
    char* Data() { return storage_.data(); }
    unsigned StorageLength() const { return static_cast<unsigned>(storage_.size()); }
    unsigned Capacity() const { return static_cast<unsigned>(storage_.size() - 1); }
    void SetCapacity(unsigned capacity);  // keeps the leading characters
private:
    std::vector<char> storage_;
};
}  // namespace vantir3

class VANTIR3_API CCdpProcess : public ICdpDataSource {
public:
    CCdpProcess();
    ~CCdpProcess() override;
    CCdpProcess(const CCdpProcess&) = delete;
    CCdpProcess& operator=(const CCdpProcess&) = delete;
    // ICdpDataSource
    const SEGprParam* GprParamPtr() const override;
    bool GetAvailableRange(Mebo3DDataAxis* range, int n) const override;
    // Releases out, fetches region from the source (this process as the
    // requester), allocates out with the input's ranges and runs ProcessData.
    // -200 without a source; a negative status of the source or of the
    // algorithm wins, otherwise the larger positive notice.
    int GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis* region,
                   const void* requester) const override;
    // True when requester has fetched since the parameters or the source
    // were last set.
    bool SourceChanged(const void* requester) const override;
    uint32_t EdgeEffect(bool recursive) const override;
    // process interface, in slot order
    virtual uint32_t GetProcessUID() const = 0;
    // The base body forgets every requester and returns 0; process classes
    // call it first, then parse their parameters.
    virtual int SetParams(const char* params) = 0;
    virtual uint32_t GetParamCount() const = 0;
    virtual bool GetDeclaration(std::string& out, int index) const;
    // Declaration text of a parameter (index >= 0, with the current value after
    // its "="), the display name (-1) or the description (-2).
    virtual std::string GetDeclaration(int index);
    // The parameter string: one CODE=value line per parameter.
    virtual std::string GetParams();
    virtual void SetDataSource(const ICdpDataSource* source);
    virtual const ICdpDataSource* GetDataSource();
    virtual int FormatParams(char* buffer, unsigned size) = 0;
    virtual int FormatDeclaration(std::string& currentValue, char* buffer,
                                  unsigned size, int index) = 0;
    virtual int ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) = 0;
    int SetAuxDataCdp(MeboDataPtr* aux);
    MeboDataPtr* GetAuxDataCdp();
private:
    virtual uint32_t MyEdgeEffect() const;

    const ICdpDataSource* source_;
    vantir3::CCharBuffer textBuffer_;
    MeboDataPtr auxData_;
    mutable std::vector<const void*> requesters_;
};

#endif  // VANTIR3_FRAMEWORK_PROCESS_H_
