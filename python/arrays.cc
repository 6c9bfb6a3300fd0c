#include "python/arrays.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "vantir3/framework/status.h"

namespace vantir3_py {

namespace {

// The count that the binding's storage records start from: far above any
// number of references the library could take during one call.
constexpr uint32_t kPinnedRefCount = 1u << 30;

struct StatusText {
    int status;
    const char* reason;
};

constexpr StatusText kProcessingReasons[] = {
    {vantir3::kStatusNoCommonRegion, "input and output share no sample, or a buffer could not be allocated"},
    {vantir3::kStatusViewFailed, "a view on the common region could not be set"},
    {vantir3::kStatusElemSizeMismatch, "input and output element sizes differ"},
    {vantir3::kStatusNarrowOutputFailed, "narrowing the output to the common region failed"},
    {vantir3::kStatusNarrowInputFailed, "narrowing the input to the common region failed"},
    {vantir3::kStatusFinalNarrowFailed, "the final narrowing of the output failed"},
    {vantir3::kOutputDoesNotCoverInput, "the output does not cover the input's ranges, or the numbers are unusable"},
    {vantir3::kAuxTooSmall, "the auxiliary trace holds fewer samples than a trace, or the layouts differ"},
    {vantir3::kMigrateTooLarge, "the section is too large to transform"},
    {vantir3::kStatusNoDataSource, "no data source"},
    {vantir3::kStatusNoGprParam, "the data source gives no acquisition parameters"},
};
constexpr StatusText kReductionReasons[] = {
    {vantir3::kReduceNothingToReduce, "nothing to reduce: the output is not smaller than the input"},
    {vantir3::kStatusNoCommonRange, "input and output have no common range on a matched axis"},
    {vantir3::kStatusElemSizeMismatch, "input and output element sizes differ"},
    {vantir3::kStatusNarrowOutputFailed, "narrowing the output to the common region failed"},
    {vantir3::kStatusNarrowInputFailed, "narrowing the input to the common region failed"},
    {vantir3::kReduceSumTooLarge,
     "the reduction factor is so large that a group's sum would not fit 32 bits (or the final narrowing failed)"},
};
constexpr StatusText kSec2AutoReasons[] = {
    {vantir3::kSecAutoSearchBrokeOff,
     "the attenuation search broke off (no sample after time zero stayed below the maximum gain)"},
    {vantir3::kSecAutoNoGprParam, "no usable acquisition parameters (sample interval, antenna frequency, time zero)"},
    {vantir3::kSecAutoBadMaxGain, "max_gain_spec must be a finite number above 0"},
    {vantir3::kSecAutoBadTailFraction, "tail_fraction must lie in (0, 1]"},
    {vantir3::kSecAutoBadTargetSlope, "target_slope must be finite"},
    {vantir3::kSecAutoBadStep, "attenuation_step must be a finite number above 0"},
    {vantir3::kSecAutoNoStatistics, "no amplitude statistics could be gathered"},
    {vantir3::kSecAutoNotSec2, "the process is not a SEC2 gain"},
};

template <size_t N>
const char* Find(const StatusText (&table)[N], int status) {
    for (const StatusText& t : table) {
        if (t.status == status) return t.reason;
    }
    return nullptr;
}

}  // namespace

StatusError::StatusError(const std::string& operation, int status, StatusFamily family)
    : std::runtime_error(operation + " failed: " + StatusReason(status, family) + " (status " +
                         std::to_string(status) + ")"),
      operation_(operation),
      status_(status) {}

std::string StatusReason(int status, StatusFamily family) {
    const char* reason = nullptr;
    switch (family) {
        case StatusFamily::kProcessing: reason = Find(kProcessingReasons, status); break;
        case StatusFamily::kReduction: reason = Find(kReductionReasons, status); break;
        case StatusFamily::kSec2Auto: reason = Find(kSec2AutoReasons, status); break;
    }
    return reason != nullptr ? reason : "unknown failure";
}

int CheckStatus(int status, const char* operation, StatusFamily family) {
    if (status < 0) throw StatusError(operation, status, family);
    return status;
}

ArrayBuffer::ArrayBuffer(void* data, int32_t elemSize, int32_t count0, int32_t count1) {
    std::memset(&storage_, 0, sizeof storage_);
    MeboDataPtrClear(&buffer_);
    Mebo3DDataAxis& l = storage_.layout;
    l.base = static_cast<uint8_t*>(data);
    l.elemSize = elemSize;
    l.dim[0] = {elemSize, 0, count0 - 1};
    l.dim[1] = {elemSize * count0, 0, count1 - 1};
    l.dim[2] = {elemSize * count0 * count1, 0, 0};
    storage_.data = l.base;
    storage_.byteSize = elemSize * count0 * count1;
    storage_.refCount = kPinnedRefCount;
    buffer_.storage = &storage_;
    buffer_.axis = l;
    buffer_.cur = l.base;
}

ArrayBuffer::~ArrayBuffer() {
    // Every reference that the library took has been given back; the record
    // itself is cleared, not released (the memory is the array's).
    MeboDataPtrClear(&buffer_);
}

namespace {

// A numpy int16 array of `ndim` dimensions, none empty, in C order.
py::array_t<int16_t> Int16Arg(const py::handle& obj, const char* operation, const char* name, int ndim) {
    const std::string what = std::string(operation) + ": " + name;
    if (!py::isinstance<py::array>(obj)) {
        throw py::type_error(what + " must be a numpy int16 array, not " +
                             py::str(py::type::of(obj).attr("__name__")).cast<std::string>());
    }
    py::array a = py::reinterpret_borrow<py::array>(obj);
    const py::dtype dt = a.dtype();
    if (dt.kind() != 'i' || dt.itemsize() != 2 || !dt.attr("isnative").cast<bool>()) {
        throw py::type_error(what + " must have dtype int16 (native byte order), not " +
                             dt.attr("name").cast<std::string>() +
                             "; samples are never converted implicitly: convert explicitly (e.g. numpy.clip, "
                             "then astype(numpy.int16))");
    }
    if (a.ndim() != ndim) {
        throw py::value_error(what + (ndim == 2 ? " must be 2-D, shaped (traces, samples)" : " must be 1-D") +
                              "; it has " + std::to_string(a.ndim()) + " dimensions");
    }
    if (a.size() < 1) throw py::value_error(what + " holds no samples");
    if (a.size() > std::numeric_limits<int32_t>::max() / 2) {
        throw py::value_error(what + " is too large for one call (at most 2^30 samples); process it in blocks of "
                                     "traces");
    }
    if (a.flags() & py::array::c_style) return py::reinterpret_borrow<py::array_t<int16_t>>(a);
    // Another layout (Fortran order, a transposed or strided view): one copy
    // into C order.
    return py::reinterpret_steal<py::array_t<int16_t>>(
        py::module_::import("numpy").attr("ascontiguousarray")(a).release());
}

}  // namespace

py::array_t<int16_t> ProfileArg(const py::handle& obj, const char* operation, const char* name) {
    return Int16Arg(obj, operation, name, 2);
}

py::array_t<int16_t> TraceArg(const py::handle& obj, const char* operation, const char* name) {
    return Int16Arg(obj, operation, name, 1);
}

py::array_t<int16_t> NewProfile(py::ssize_t traces, py::ssize_t samples, bool zero) {
    if (traces < 1 || samples < 1 || samples > std::numeric_limits<int32_t>::max() / 2 / traces) {
        if (!zero) return py::array_t<int16_t>({traces, samples});
        // numpy.zeros takes zeroed pages from the system instead of writing them.
        return py::module_::import("numpy").attr("zeros")(py::make_tuple(traces, samples), "int16");
    }
    struct Release {
        void operator()(MeboDataPtr* b) const {
            MeboDataPtrRelease(b);
            delete b;
        }
    };
    std::unique_ptr<MeboDataPtr, Release> buffer(new MeboDataPtr);
    MeboDataPtrClear(buffer.get());
    // A fresh mapping is zero already; only a reused block is cleared.
    if (!MeboDataPtrAllocateCounts(buffer.get(), 2, static_cast<int32_t>(samples), static_cast<int32_t>(traces), 1,
                                   zero ? 1 : 0)) {
        throw std::bad_alloc();
    }
    int16_t* data = reinterpret_cast<int16_t*>(buffer->storage->data);
    py::capsule owner(buffer.get(), [](void* p) { Release()(static_cast<MeboDataPtr*>(p)); });
    buffer.release();  // the capsule owns it now
    return py::array_t<int16_t>({traces, samples}, data, owner);
}

py::array_t<int16_t> OutputArg(const py::object& out, const py::array& input, py::ssize_t traces,
                               py::ssize_t samples, bool zero, const char* operation) {
    if (out.is_none()) return NewProfile(traces, samples, zero);
    py::array_t<int16_t> o = ProfileArg(out, operation, "out");
    if (!o.is(out)) {
        throw py::value_error(std::string(operation) + ": out must be C-contiguous (it is written in place)");
    }
    if (!o.writeable()) throw py::value_error(std::string(operation) + ": out is read-only");
    if (o.shape(0) != traces || o.shape(1) != samples) {
        throw py::value_error(std::string(operation) + ": out must be shaped (" + std::to_string(traces) + ", " +
                              std::to_string(samples) + "), not (" + std::to_string(o.shape(0)) + ", " +
                              std::to_string(o.shape(1)) + ")");
    }
    if (py::module_::import("numpy").attr("may_share_memory")(o, input).cast<bool>()) {
        throw py::value_error(std::string(operation) + ": out must not share memory with the input");
    }
    return o;
}

void RequirePositive(double value, const char* name, const char* operation) {
    if (!(value > 0.0) || !std::isfinite(value)) {
        throw py::value_error(std::string(operation) + ": " + name + " must be a positive finite number, not " +
                              py::str(py::float_(value)).cast<std::string>());
    }
}

void RequireFinite(double value, const char* name, const char* operation) {
    if (!std::isfinite(value)) {
        throw py::value_error(std::string(operation) + ": " + name + " must be a finite number (is it unknown?)");
    }
}

}  // namespace vantir3_py
