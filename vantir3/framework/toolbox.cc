#include "vantir3/framework/toolbox.h"

#include <algorithm>

#include "kol_utils/kol_utils.h"
#include "vantir3/framework/declaration_param.h"
#include "vantir3/processes/factory.h"

CCdpProcessToolbox::SProcessTypeDef::SProcessTypeDef() : kind(0), uid(0), level(0) {}

CCdpProcessToolbox::CCdpProcessToolbox() {
    // The catalogue, in the order a host shows it. A process type whose class
    // cannot be created is left out without a report.
    AddCategory("DATPRC", "Data Processing", "Processes that modify GPR data in some manner.", 0);
    AddCategory("GAIN@@", "Gain",
                "Gain proceses that in some manner amplifies (or de amplifies) signal.", 1);
    AddProcessType(KOL::Str2UID("SECCGN"), 2);
    AddProcessType(KOL::Str2UID("AGC@@@"), 2);
    AddProcessType(KOL::Str2UID("DVLGN@"), 2);
    AddProcessType(KOL::Str2UID("CONST@"), 2);
    AddCategory("FILTER", "Filter",
                "Filter processes that generally removes parts of signal components.", 1);
    AddCategory("TIMFLT", "Time Filter",
                "Filter processes operating as function of travel time (i.e. single-trace "
                "operations like Dewow).",
                1);
    AddProcessType(KOL::Str2UID("DEWOW@"), 3);
    AddCategory("OPERTN", "Operation", "Translates the data in some way.", 1);
    AddProcessType(KOL::Str2UID("ANDSEP"), 3);
    AddProcessType(KOL::Str2UID("TOPOSH"), 3);
    AddProcessType(KOL::Str2UID("COMBSH"), 3);
    AddCategory("OTHER@", "Other", "", 0);
}

CCdpProcessToolbox::~CCdpProcessToolbox() {
    for (CCdpProcess* process : processes_) delete process;
}

void CCdpProcessToolbox::AddCategory(const char* code, const char* name, const char* description,
                                     unsigned int level) {
    SProcessTypeDef row;
    row.kind = 0;
    row.uid = KOL::Str2UID(code);
    row.name = name;
    row.description = description;
    row.level = level;
    typeDefs_.push_back(row);
}

bool CCdpProcessToolbox::AddProcessType(unsigned long uid, unsigned int level) {
    CCdpProcess* process = GetProcess(static_cast<unsigned int>(uid));
    if (process == nullptr) return false;
    SProcessTypeDef row;
    row.kind = 1;
    row.uid = uid;
    row.level = level;
    row.name = process->GetDeclaration(-1);
    row.description = process->GetDeclaration(-2);
    typeDefs_.push_back(row);
    availableUIDs_.push_back(static_cast<uint32_t>(uid));
    return true;
}

CCdpProcess* CCdpProcessToolbox::GetProcess(unsigned int uid) {
    CCdpProcess* process = vantir3::CreateProcess(uid);
    if (process != nullptr) processes_.push_back(process);
    return process;
}

void CCdpProcessToolbox::ReleaseProcess(CCdpProcess* process) {
    if (process == nullptr) return;
    const size_t before = processes_.size();
    processes_.remove(process);
    // Only a process this toolbox created (and still holds) is destroyed.
    if (processes_.size() != before) delete process;
}

std::string CCdpProcessToolbox::GetDeclaration(unsigned int uid, int index) {
    // The registration instances come first in processes_ and are never
    // handed out, so they answer with the declared defaults.
    size_t remaining = availableUIDs_.size();
    for (auto it = processes_.begin(); it != processes_.end() && remaining > 0; ++it, --remaining) {
        if ((*it)->GetProcessUID() == uid) return (*it)->GetDeclaration(index);
    }
    return std::string();
}

bool CCdpProcessToolbox::GetDeclaration(std::string& out, unsigned int uid, int index) {
    out = GetDeclaration(uid, index);
    return !out.empty();
}

unsigned int CCdpProcessToolbox::GetDeclarationParamCount(unsigned int uid) {
    size_t remaining = availableUIDs_.size();
    for (auto it = processes_.begin(); it != processes_.end() && remaining > 0; ++it, --remaining) {
        if ((*it)->GetProcessUID() == uid) return (*it)->GetParamCount();
    }
    return 0;
}

unsigned int CCdpProcessToolbox::GetAvailableProcessCount() const {
    return static_cast<unsigned int>(availableUIDs_.size());
}

unsigned long CCdpProcessToolbox::GetAvailableProcessUID(unsigned int index,
                                                         SProcessTypeDef* row) const {
    if (index >= availableUIDs_.size()) return 0;
    const uint32_t uid = availableUIDs_[index];
    if (row != nullptr) {
        for (const SProcessTypeDef& def : typeDefs_) {
            if (def.kind == 1 && def.uid == uid) {
                *row = def;
                break;
            }
        }
    }
    return uid;
}

void CCdpProcessToolbox::GetProcessTypeDefArray(std::vector<SProcessTypeDef>& rows) {
    rows = typeDefs_;
}

int CCdpProcessToolbox::SetProcessParamsToDefaults(CCdpProcess* process) {
    if (process == nullptr) return 0;
    const uint32_t n = process->GetParamCount();
    if (n == 0) return 1;
    std::string params;
    CDeclarationParam declaration;
    for (uint32_t i = 0; i < n; ++i) {
        const std::string text = process->GetDeclaration(static_cast<int>(i));
        if (!declaration.SetDefStr(text.c_str())) continue;
        if (i > 0) params += '\n';
        declaration.SetToDefault();
        const char* line = declaration.GetVal(true);
        if (line != nullptr) params += line;
    }
    return process->SetParams(params.c_str());
}
