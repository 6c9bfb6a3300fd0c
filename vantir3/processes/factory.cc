#include "vantir3/processes/factory.h"

#include <new>

#include "kol_utils/kol_utils.h"
#include "vantir3/processes/agc_gain.h"
#include "vantir3/processes/const_gain.h"
#include "vantir3/processes/deseparate.h"
#include "vantir3/processes/dewow.h"
#include "vantir3/processes/dvl_gain.h"
#include "vantir3/processes/sec2_gain.h"
#include "vantir3/processes/topo_shift.h"

namespace vantir3 {

namespace {
template <class T>
CCdpProcess* Make() {
    return new (std::nothrow) T();
}

struct FactoryRow {
    const char* code;
    CCdpProcess* (*create)();
};

// Every process class that the toolbox can create, by process code.
constexpr FactoryRow kFactory[] = {
    {"SECCGN", &Make<CCdpPrcSec2Gain>},
    {"AGC@@@", &Make<CCdpPrcAgcGain>},
    {"DVLGN@", &Make<CCdpPrcDvlGain>},
    {"CONST@", &Make<CCdpPrcConstGain>},
    {"DEWOW@", &Make<CCdpPrcDewow>},
    {"ANDSEP", &Make<CCdpPrcDeSeparate>},
    {"COMBSH", &Make<CCdpPrcComboShift>},
};
}  // namespace

CCdpProcess* CreateProcess(uint32_t uid) {
    for (const FactoryRow& row : kFactory) {
        if (KOL::Str2UID(row.code) == uid) return row.create();
    }
    return nullptr;
}

}  // namespace vantir3
