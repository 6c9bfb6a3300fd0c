// CCdpProcessToolbox: the host's entry to the library. It holds the process
// catalogue, creates (and owns) processes by identifier, hands out their
// declaration texts, normalises parameter values and offers every algorithm
// as a static entry point on the host's own buffers.
#ifndef VANTIR3_FRAMEWORK_TOOLBOX_H_
#define VANTIR3_FRAMEWORK_TOOLBOX_H_

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "vantir3/data/data_buffer.h"
#include "vantir3/export.h"
#include "vantir3/framework/process.h"
#include "vantir3/numeric/statistics.h"
#include "vantir3/processes/sec2_gain.h"

class VANTIR3_API CCdpProcessToolbox {
public:
    // One catalogue row: a category (kind 0) or a process type (kind 1).
    struct SProcessTypeDef {
        int32_t       kind;
        unsigned long uid;
        std::string   name;
        std::string   description;
        uint32_t      level;
        SProcessTypeDef();
    };
    CCdpProcessToolbox();
    virtual ~CCdpProcessToolbox();
    CCdpProcessToolbox(const CCdpProcessToolbox&) = delete;
    CCdpProcessToolbox& operator=(const CCdpProcessToolbox&) = delete;

    // A new process of type uid, owned by the toolbox, or null.
    CCdpProcess* GetProcess(unsigned int uid);
    void ReleaseProcess(CCdpProcess* process);
    std::string GetDeclaration(unsigned int uid, int index);
    bool GetDeclaration(std::string& out, unsigned int uid, int index);
    unsigned int GetDeclarationParamCount(unsigned int uid);
    unsigned int GetAvailableProcessCount() const;
    unsigned long GetAvailableProcessUID(unsigned int index, SProcessTypeDef* row) const;
    // Fills rows with the whole catalogue (categories and process types) in
    // registration order.
    void GetProcessTypeDefArray(std::vector<SProcessTypeDef>& rows);
    int SetProcessParamsToDefaults(CCdpProcess* process);
    int SecAutoSetParams(CCdpProcess* process, double maxGainSpec, double tailFraction,
                         double targetSlope, double attenuationStep, MeboDataPtr* stats,
                         unsigned int pulsePeakPercent, unsigned int overallPeakPercent);
    bool GetDataMinMaxStats(MeboDataPtr& out, const MeboDataPtr& in, bool merge);

    static int CdpDewow(MeboDataPtr& out, const MeboDataPtr& in, MeboDataPtr* aux,
                        double window, double antennaFrequency, double sampleInterval);
    static int CdpBackgroundSubtract(MeboDataPtr& out, MeboDataPtr& in,
                                     MeboDataPtr* background, int window);
    static int CdpSec2Gain(MeboDataPtr& out, MeboDataPtr& in, double attenuation,
                           double startGain, double maxGain, double timeZeroSample,
                           double sampleInterval, double antennaFrequency, int* lastSample);
    static int CdpMigrate(MeboDataPtr& out, const MeboDataPtr& in, double velocity,
                          double startSample, double traceSpacing, double sampleInterval);
    static int CdpEnvelope(MeboDataPtr& out, const MeboDataPtr& in,
                           SCDPPrc_DataStatsMode& stats, int window);
    static int CdpDeseparate(MeboDataPtr& out, const MeboDataPtr& in, double velocity,
                             double antennaSeparation, double timeZeroSample,
                             double sampleInterval);
    static int CdpMinMaxReduction(MeboDataPtr& out, const MeboDataPtr& in);
    static int CdpAverageReduction(MeboDataPtr& out, const MeboDataPtr& in, int axis);
    int CdpDecimation(MeboDataPtr& out, const MeboDataPtr& in);
    static int CdpTopoShift(MeboDataPtr& out, const MeboDataPtr& in,
                            const MeboDataPtr& elevation, double velocity, double datum,
                            double spare, double antennaSeparation,
                            double timeZeroSample, double sampleInterval);
    static int CdpComboShift(MeboDataPtr& out, const MeboDataPtr& in,
                             const MeboDataPtr& elevation, double velocity, double datum,
                             double spare, double antennaSeparation,
                             double timeZeroSample, double sampleInterval);
    static unsigned long GroundZeroSampleIdx(unsigned long outSpan, unsigned long inSpan,
                                             double velocity, double antennaSeparation,
                                             double timeZeroSample, double sampleInterval);
    static int SecAutoSetParamStruct(Sec2GainParam* params,
                                     const ICdpDataSource::SEGprParam* gpr,
                                     double maxGainSpec, double tailFraction,
                                     double targetSlope, double attenuationStep,
                                     MeboDataPtr* stats, unsigned int pulsePeakPercent,
                                     unsigned int overallPeakPercent);
private:
    bool AddProcessType(unsigned long uid, unsigned int level);
    void AddCategory(const char* code, const char* name, const char* description,
                     unsigned int level);

    std::list<CCdpProcess*> processes_;
    std::vector<uint32_t> availableUIDs_;
    std::vector<SProcessTypeDef> typeDefs_;
};

#endif  // VANTIR3_FRAMEWORK_TOOLBOX_H_
