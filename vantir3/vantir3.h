// VANTIR3: processing library for ground-penetrating-radar trace data.
// Umbrella header: the whole public interface.
#ifndef VANTIR3_VANTIR3_H_
#define VANTIR3_VANTIR3_H_

#include "kol_utils/kol_utils.h"
#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/declaration_param.h"
#include "vantir3/framework/process.h"
#include "vantir3/framework/process_chain.h"
#include "vantir3/framework/status.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/numeric/statistics.h"
#include "vantir3/processes/sec2_gain.h"

#endif  // VANTIR3_VANTIR3_H_
