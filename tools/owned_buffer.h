// A data buffer of the library owned for one scope: cleared on creation,
// released on destruction, its reference handed on by a move.
#ifndef TOOLS_OWNED_BUFFER_H_
#define TOOLS_OWNED_BUFFER_H_

#include "vantir3/vantir3.h"

namespace vantir3_cli {

struct OwnedBuffer {
    MeboDataPtr b;
    OwnedBuffer() { MeboDataPtrClear(&b); }
    ~OwnedBuffer() { MeboDataPtrRelease(&b); }
    OwnedBuffer(const OwnedBuffer&) = delete;
    OwnedBuffer& operator=(const OwnedBuffer&) = delete;
    OwnedBuffer(OwnedBuffer&& other) noexcept : b(other.b) { MeboDataPtrClear(&other.b); }
    OwnedBuffer& operator=(OwnedBuffer&& other) noexcept {
        if (this != &other) Take(other.b);
        return *this;
    }
    // Takes over other's reference, leaving other empty.
    void Take(MeboDataPtr& other) {
        MeboDataPtrRelease(&b);
        b = other;
        MeboDataPtrClear(&other);
    }
    int16_t* samples() { return reinterpret_cast<int16_t*>(b.storage->data); }
};

}  // namespace vantir3_cli

#endif  // TOOLS_OWNED_BUFFER_H_
