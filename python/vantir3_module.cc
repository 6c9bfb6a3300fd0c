// The extension module vantir3._vantir3: numpy profiles through the library's
// entry points, the process catalogue and chains, and survey files. The
// package vantir3 (python/vantir3/) re-exports it and adds the Dask batch.
#include <pybind11/pybind11.h>

#include "python/arrays.h"
#include "python/module.h"

PYBIND11_MODULE(_vantir3, m) {
    namespace py = pybind11;
    m.doc() = "VANTIR3 ground-penetrating-radar processing on numpy int16 arrays shaped (traces, samples).";

    static py::exception<vantir3_py::StatusError> statusError(m, "StatusError", PyExc_RuntimeError);
    statusError.doc() =
        "A library call failed; the message names the operation and the reason (also as the attributes "
        "operation and status).";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const vantir3_py::StatusError& e) {
            py::object error = py::reinterpret_borrow<py::object>(statusError.ptr())(e.what());
            error.attr("operation") = e.operation();
            error.attr("status") = e.status();
            PyErr_SetObject(statusError.ptr(), error.ptr());
        }
    });

    vantir3_py::BindSurvey(m);
    vantir3_py::BindEntryPoints(m);
    vantir3_py::BindProcesses(m);
}
