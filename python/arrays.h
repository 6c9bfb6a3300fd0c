// Numpy arrays as library buffers, and library statuses as Python errors.
//
// A profile is a numpy int16 array shaped (traces, samples). The library sees
// it as a buffer whose axis 0 is the sample and axis 1 the trace; a
// C-contiguous array is used in place (element size 2, axis-0 stride 2,
// axis-1 stride 2 * samples), any other layout of int16 is first copied once
// into C order, and every other dtype is refused with TypeError: samples are
// never converted, so never silently truncated.
#ifndef VANTIR3_PYTHON_ARRAYS_H_
#define VANTIR3_PYTHON_ARRAYS_H_

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "vantir3/vantir3.h"

namespace vantir3_py {

namespace py = pybind11;

// The families of calls whose statuses share one meaning (status.h).
enum class StatusFamily { kProcessing, kReduction, kSec2Auto };

// A failing library status, named by the operation that returned it.
class StatusError : public std::runtime_error {
public:
    StatusError(const std::string& operation, int status, StatusFamily family);
    const std::string& operation() const { return operation_; }
    int status() const { return status_; }

private:
    std::string operation_;
    int status_;
};

// Throws StatusError for a negative status; returns a non-negative one.
int CheckStatus(int status, const char* operation,
                StatusFamily family = StatusFamily::kProcessing);
// The reason that a status stands for, in words.
std::string StatusReason(int status, StatusFamily family);

// A buffer over memory that the binding owns (a numpy array): the storage
// record is the binding's own, with a reference count that no release inside
// the library can bring to zero, so the library shares and narrows it like
// any buffer but never frees it. Lives on the C++ stack for one call.
class ArrayBuffer {
public:
    // counts: samples per trace (axis 0), traces (axis 1); elemSize bytes each,
    // dense with axis 0 innermost.
    ArrayBuffer(void* data, int32_t elemSize, int32_t count0, int32_t count1);
    ~ArrayBuffer();
    ArrayBuffer(const ArrayBuffer&) = delete;
    ArrayBuffer& operator=(const ArrayBuffer&) = delete;

    MeboDataPtr& get() { return buffer_; }

private:
    MeboDataStorage storage_;
    MeboDataPtr buffer_;
};

// The profile argument `name` of `operation`: a 2-D numpy int16 array, in C
// order (copied once when it is not), with at least one trace and sample and
// below 2 GiB. TypeError for another type or dtype, ValueError for a shape.
py::array_t<int16_t> ProfileArg(const py::handle& obj, const char* operation,
                                const char* name = "data");
// The same for a 1-D int16 array (one trace).
py::array_t<int16_t> TraceArg(const py::handle& obj, const char* operation, const char* name);
// A new (traces, samples) int16 array, zero-filled when `zero`, in the
// library's own memory: a buffer of its allocator, kept alive by the array
// (a capsule as its base) and released through the library when the array
// goes. Large blocks there sit on 2 MiB pages and the last one a thread
// released is handed out again, so a fresh output costs what it costs a C++
// host, not a page fault every 4 KiB. Arrays that the library cannot hold in
// one buffer (2 GiB and more) and empty ones come from numpy.
py::array_t<int16_t> NewProfile(py::ssize_t traces, py::ssize_t samples, bool zero);
// The output of `operation`: `out` when given (checked: int16, C order,
// writeable, shaped (traces, samples), not sharing memory with `input`;
// samples that the algorithm does not reach keep its values), else a new
// array (zero-filled when `zero`, for algorithms that may leave some output
// samples unwritten).
py::array_t<int16_t> OutputArg(const py::object& out, const py::array& input, py::ssize_t traces,
                               py::ssize_t samples, bool zero, const char* operation);

inline int32_t Traces(const py::array& a) { return static_cast<int32_t>(a.shape(0)); }
inline int32_t Samples(const py::array& a) { return static_cast<int32_t>(a.shape(1)); }

// A buffer over a checked (traces, samples) int16 array.
class ProfileBuffer : public ArrayBuffer {
public:
    explicit ProfileBuffer(py::array_t<int16_t>& a)
        : ArrayBuffer(a.mutable_data(), 2, Samples(a), Traces(a)) {}
};
class ConstProfileBuffer : public ArrayBuffer {
public:
    // The library does not write through its input buffers.
    explicit ConstProfileBuffer(const py::array_t<int16_t>& a)
        : ArrayBuffer(const_cast<int16_t*>(a.data()), 2, Samples(a), Traces(a)) {}
};

// ValueError unless `value` is a positive finite number.
void RequirePositive(double value, const char* name, const char* operation);
// ValueError unless `value` is finite.
void RequireFinite(double value, const char* name, const char* operation);

}  // namespace vantir3_py

#endif  // VANTIR3_PYTHON_ARRAYS_H_
