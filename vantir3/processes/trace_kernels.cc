#include "vantir3/processes/trace_kernels.h"

namespace vantir3 {

bool HoldsSamplesFromCursor(const MeboDataPtr& buf, int64_t count) {
    if (buf.storage == nullptr || buf.storage->data == nullptr || buf.cur == nullptr) return false;
    const uintptr_t begin = reinterpret_cast<uintptr_t>(buf.storage->data);
    const uintptr_t end = begin + static_cast<uintptr_t>(buf.storage->byteSize > 0 ? buf.storage->byteSize : 0);
    const uintptr_t cur = reinterpret_cast<uintptr_t>(buf.cur);
    if (cur < begin || cur > end) return false;
    return count <= 0 || static_cast<uint64_t>(end - cur) / sizeof(int16_t) >= static_cast<uint64_t>(count);
}

}  // namespace vantir3
