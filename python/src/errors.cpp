#include "errors.hpp"

namespace pelm_ossrel::py {
namespace {

constexpr const char kNoneSetMessage[] = "attempted to fetch exception but none was set";
constexpr const char kUnknownTypeName[] = "<failed to extract type name>";
constexpr const char kFaultTypeName[] = "pyo3_runtime.PanicException";
constexpr const char kFaultTypeDoc[] =
    "Raised when native code called from Python fails internally.\n\n"
    "It derives from BaseException, as SystemExit does, so that it usually travels all the way\n"
    "up the stack and ends the interpreter.";
constexpr const char kDiagnosticPrefix[] = "_ossrel_rs: internal fault: ";

PyObject* g_fault_type = nullptr;  // created on first use, kept for the life of the process

// Fault texts travel as UTF-8 in which a lone surrogate is encoded like any other code point
// (the "surrogatepass" form), so that the text raised is the very str it was made from.
constexpr const char kTextErrors[] = "surrogatepass";
// The text of a fault raised by the caller's code whose string form cannot be obtained.
constexpr const char kUnprintableFault[] = "an internal fault whose text could not be obtained";

// UTF-8 text of a str object, lone surrogates included as they are.
std::string utf8_of(PyObject* text) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(text, &size)) {
        return std::string(data, static_cast<std::size_t>(size));
    }
    PyErr_Clear();
    py_ref bytes = py_ref::steal(PyUnicode_AsEncodedString(text, "utf-8", kTextErrors));
    if (!bytes) {
        PyErr_Clear();
        return {};
    }
    return std::string(PyBytes_AS_STRING(bytes.get()),
                       static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

}  // namespace

Error Error::from_instance(py_ref exception) {
    Error e(Kind::Instance, nullptr, {});
    e.detail_->instance = std::move(exception);
    return e;
}

const std::string& Error::text() const noexcept {
    static const std::string none;
    return detail_ ? detail_->text : none;
}

Error Error::fetch() {
    py_ref exc = py_ref::steal(PyErr_GetRaisedException());
    if (!exc) return of(PyExc_SystemError, kNoneSetMessage);
    if (is_internal_fault(exc.get())) {
        // A fault of a nested call of this module (or raised by the caller's code): it becomes
        // a fault of this call, with the same text.
        py_ref text = py_ref::steal(PyObject_Str(exc.get()));
        if (!text || !PyUnicode_Check(text.get())) {
            PyErr_Clear();
            return fault(kUnprintableFault);
        }
        std::string utf8 = utf8_of(text.get());
        if (utf8.empty() && PyUnicode_GET_LENGTH(text.get()) != 0) return fault(kUnprintableFault);
        return fault(std::move(utf8));
    }
    return from_instance(std::move(exc));
}

Error Error::cannot_convert(PyObject* obj, std::string_view kind) {
    std::string message = "'";
    message += type_qualname(obj);
    message += "' object cannot be converted to '";
    message += kind;
    message += "'";
    return type_error(std::move(message));
}

bool Error::is_exactly(PyObject* type) const noexcept {
    switch (kind()) {
        case Kind::Described: return detail_->type == type;
        case Kind::Instance: return reinterpret_cast<PyObject*>(Py_TYPE(detail_->instance.get())) == type;
        case Kind::NoMemory: return type == PyExc_MemoryError;
        case Kind::Fault: return false;
    }
    return false;
}

void Error::raise() && {
    switch (kind()) {
        case Kind::Described: {
            const std::string& text = detail_->text;
            py_ref message = py_ref::steal(
                PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
            if (message) PyErr_SetObject(detail_->type, message.get());
            return;
        }
        case Kind::Instance:
            PyErr_SetRaisedException(detail_->instance.release());
            return;
        case Kind::NoMemory:
            PyErr_NoMemory();
            return;
        case Kind::Fault:
            report_internal_fault(detail_->text);
            return;
    }
}

std::string type_qualname(PyObject* obj) {
    py_ref name = py_ref::steal(PyType_GetQualName(Py_TYPE(obj)));
    if (name) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(name.get(), &size)) {
            return std::string(data, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    return kUnknownTypeName;
}

bool is_internal_fault(PyObject* exc) noexcept {
    return g_fault_type != nullptr && reinterpret_cast<PyObject*>(Py_TYPE(exc)) == g_fault_type;
}

PyObject* internal_fault_type() {
    if (g_fault_type == nullptr) {
        g_fault_type = PyErr_NewExceptionWithDoc(kFaultTypeName, kFaultTypeDoc, PyExc_BaseException,
                                                 nullptr);
    }
    return g_fault_type;
}

void report_internal_fault(std::string_view text) {
    py_ref message = py_ref::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), kTextErrors));
    if (!message && PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
        PyErr_Clear();  // not UTF-8 (the text of a C++ exception, say): kept readable
        message = py_ref::steal(
            PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    }
    if (!message) return;  // the decoding error (MemoryError) stays pending
    PySys_FormatStderr("%s%U\n", kDiagnosticPrefix, message.get());
    PyObject* type = internal_fault_type();
    if (type == nullptr) return;  // the creation error stays pending
    PyErr_SetObject(type, message.get());
}

Error fault_from_pending(std::string_view what) {
    Error pending = Error::fetch();
    if (pending.is_fault()) return pending;
    std::string text(what);
    if (PyObject* exc = pending.instance()) {
        py_ref type_name = py_ref::steal(PyType_GetQualName(Py_TYPE(exc)));
        py_ref detail = py_ref::steal(PyObject_Str(exc));
        if (type_name && detail) {
            text += ": ";
            text += utf8_of(type_name.get());
            text += ": ";
            text += utf8_of(detail.get());
        } else {
            PyErr_Clear();
        }
    } else {
        text += ": ";
        text += pending.text();
    }
    return Error::fault(std::move(text));
}

void print_pending_error() {
    if (PyErr_Occurred()) PyErr_Print();
}

}  // namespace pelm_ossrel::py
