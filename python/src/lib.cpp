// The module _ossrel_rs: its definition, its two functions and their guarded entry points.
#include <atomic>
#include <cstdint>
#include <exception>
#include <new>

#include "args.hpp"
#include "call_depth.hpp"
#include "errors.hpp"
#include "py_ref.hpp"

namespace pelm_ossrel::py {
namespace {

// Runs `body` so that only a result object, or NULL with an exception set, comes out:
// errors are raised here, internal faults reported, and no C++ exception escapes.
template <class Body>
PyObject* run_guarded(Body&& body) noexcept {
    try {
        Result<py_ref> result = body();
        if (result) return result.take().release();
        result.take_error().raise();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        report_internal_fault(e.what());
    } catch (...) {
        report_internal_fault("an unknown C++ exception reached the entry point");
    }
    return nullptr;
}

// Each call of a module function is entered in the interpreter's recursion accounting (and
// checked against the native stack left) before its arguments are bound.
PyObject* cast_array_trampoline(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames) {
    const EnteredCall call(" while calling cast_array");
    if (!call) return nullptr;
    return run_guarded([&] { return __pyfunction_cast_array(args, nargs, kwnames); });
}

PyObject* cast_array_into_trampoline(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    const EnteredCall call(" while calling cast_array_into");
    if (!call) return nullptr;
    return run_guarded([&] { return __pyfunction_cast_array_into(args, nargs, kwnames); });
}

constexpr const char kCastArrayDoc[] =
    "cast_array(arr, *, target_dtype, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)\n"
    "--\n"
    "\n"
    "Cast a numpy array to a new dtype, allocating a new output array.\n"
    "\n"
    "# Arguments\n"
    "\n"
    "* `arr` - Input numpy array\n"
    "* `target_dtype` - Target dtype string (e.g. \"uint8\", \"float32\")\n"
    "* `rounding_mode` - Rounding mode string (e.g. \"nearest-even\")\n"
    "* `out_of_range_mode` - Optional out-of-range handling (\"clamp\" or \"wrap\")\n"
    "* `scalar_map_entries` - Optional list of [source, target] pairs\n"
    "\n"
    "# Returns\n"
    "\n"
    "A new numpy array with the target dtype.\n"
    "\n"
    "# Errors\n"
    "\n"
    "Returns `PyValueError` for invalid rounding/out-of-range modes or\n"
    "conversion errors. Returns `PyTypeError` for unsupported dtypes.";

constexpr const char kCastArrayIntoDoc[] =
    "cast_array_into(arr, out, *, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)\n"
    "--\n"
    "\n"
    "Cast a numpy array into a pre-allocated output array.\n"
    "\n"
    "# Arguments\n"
    "\n"
    "* `arr` - Input numpy array\n"
    "* `out` - Pre-allocated output numpy array (must match input shape)\n"
    "* `rounding_mode` - Rounding mode string (e.g. \"nearest-even\")\n"
    "* `out_of_range_mode` - Optional out-of-range handling (\"clamp\" or \"wrap\")\n"
    "* `scalar_map_entries` - Optional list of [source, target] pairs\n"
    "\n"
    "# Returns\n"
    "\n"
    "None on success.\n"
    "\n"
    "# Errors\n"
    "\n"
    "Returns `PyValueError` for shape mismatch, invalid modes, or conversion\n"
    "errors. Returns `PyTypeError` for unsupported dtypes.";

// The function pointer goes through void(*)() as the method table expects a PyCFunction.
template <class F>
PyCFunction as_cfunction(F* f) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef g_cast_array_def{"cast_array", as_cfunction(&cast_array_trampoline),
                             METH_FASTCALL | METH_KEYWORDS, kCastArrayDoc};
PyMethodDef g_cast_array_into_def{"cast_array_into", as_cfunction(&cast_array_into_trampoline),
                                  METH_FASTCALL | METH_KEYWORDS, kCastArrayIntoDoc};

// Single-phase module definition: empty docstring, no state, no methods table (functions are
// added by the module body), no slots, no hooks.
PyModuleDef _PYO3_DEF{PyModuleDef_HEAD_INIT, "_ossrel_rs", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

// The interpreter that first initialised the module; -1 before that. Set once, never reset.
std::atomic<std::int64_t> g_interpreter_id{-1};
// The created module, kept for the life of the process.
PyObject* g_module = nullptr;

constexpr const char kSubinterpreterMessage[] =
    "_ossrel_rs does not support sub-interpreters: it is already initialised in another "
    "interpreter of this process";

// Creates the function of `def` bound to `module`, lists its name in __all__ and sets it as the
// module attribute of that name.
Result<void> add_function(PyObject* module, PyMethodDef* def) {
    py_ref module_name = py_ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return Error::fetch();
    py_ref function = py_ref::steal(PyCMethod_New(def, module, module_name.get(), nullptr));
    if (!function) return Error::fetch();
    py_ref name = py_ref::steal(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) return Error::fetch();
    if (!PyUnicode_Check(name.get())) return Error::cannot_convert(name.get(), "PyString");

    py_ref all = py_ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return Error::fetch();
        PyErr_Clear();
        all = py_ref::steal(PyList_New(0));
        if (!all) return Error::fetch();
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return Error::fetch();
    } else if (!PyList_Check(all.get())) {
        return Error::cannot_convert(all.get(), "PyList");
    }
    if (PyList_Append(all.get(), name.get()) < 0) return fault_from_pending("cannot append to __all__");
    if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return Error::fetch();
    return {};
}

// The module body: registers cast_array, then cast_array_into.
Result<void> __pyo3_pymodule(PyObject* module) {
    if (Result<void> added = add_function(module, &g_cast_array_def); !added) return added;
    return add_function(module, &g_cast_array_into_def);
}

Result<py_ref> initialise_module() {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) return Error::fetch();
    std::int64_t recorded = -1;
    if (!g_interpreter_id.compare_exchange_strong(recorded, id) && recorded != id) {
        return Error::of(PyExc_ImportError, kSubinterpreterMessage);
    }
    if (g_module != nullptr) return py_ref::borrow(g_module);

    py_ref module = py_ref::steal(PyModule_Create2(&_PYO3_DEF, 1013));
    if (!module) return Error::fetch();
    if (Result<void> body = __pyo3_pymodule(module.get()); !body) return body.take_error();
    g_module = module.new_ref();
    return module;
}

}  // namespace
}  // namespace pelm_ossrel::py

PyMODINIT_FUNC PyInit__ossrel_rs(void) {
    return pelm_ossrel::py::run_guarded([] { return pelm_ossrel::py::initialise_module(); });
}
