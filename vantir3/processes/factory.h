// Creates process objects by type identifier.
#ifndef VANTIR3_PROCESSES_FACTORY_H_
#define VANTIR3_PROCESSES_FACTORY_H_

#include <cstdint>

#include "vantir3/framework/process.h"

namespace vantir3 {
// A new process of the type whose identifier is uid, or null for an
// identifier without a process class (or when memory runs out).
CCdpProcess* CreateProcess(uint32_t uid);
}  // namespace vantir3

#endif  // VANTIR3_PROCESSES_FACTORY_H_
