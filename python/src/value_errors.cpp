#include "value_errors.hpp"

#include <utility>

#include "pending_exception.hpp"
#include "py_ref.hpp"

namespace pelm_ossrel::py {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// The UTF-8 form of a str object. Code points that UTF-8 cannot carry (lone surrogates) are
// encoded as they stand and then replaced as ill-formed sequences.
Result<std::string> utf8_text(PyObject* str) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(str, &size)) {
        return std::string(data, static_cast<std::size_t>(size));
    }
    Error encoding_error = take_pending();
    if (encoding_error.is_fault()) return encoding_error;
    py_ref bytes = py_ref::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
    if (!bytes) return take_pending();
    return replace_ill_formed_utf8(std::string_view(
        PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get()))));
}

// str() of `object` as UTF-8 text, or the error of one of the two steps.
Result<std::string> str_text(PyObject* object) {
    py_ref str = py_ref::steal(PyObject_Str(object));
    if (!str) return take_pending();
    return utf8_text(str.get());
}

// The value's text, from the text object that repr() or str() of the value gave. When str()
// of it fails, that failure is reported as unraisable and the text names the text object's
// type instead.
Result<std::string> value_text(PyObject* text_object) {
    Result<std::string> text = str_text(text_object);
    if (text) return text;
    Error str_error = text.take_error();
    if (str_error.is_fault()) return str_error;
    write_unraisable(std::move(str_error), text_object);

    py_ref type_name = py_ref::steal(PyType_GetName(Py_TYPE(text_object)));
    Result<std::string> name = type_name ? str_text(type_name.get()) : Result<std::string>(take_pending());
    if (name) return "<unprintable " + name.value() + " object>";
    Error name_error = name.take_error();
    if (name_error.is_fault()) return name_error;
    return std::string("<unprintable object>");
}

Error value_error(std::string_view head, std::string_view middle, PyObject* value_object,
                  std::string_view dtype_name, Error conversion_error) {
    py_ref text_object = py_ref::steal(PyObject_Repr(value_object));
    if (!text_object) {
        Error repr_error = take_pending();
        if (repr_error.is_fault()) return repr_error;
        text_object = py_ref::steal(PyObject_Str(value_object));
        if (!text_object) {
            Error str_error = take_pending();
            if (str_error.is_fault()) return str_error;
            return Error::fault("the text of an unconvertible scalar-map value cannot be obtained: "
                                "neither repr() nor str() of the '" + type_qualname(value_object) +
                                "' object succeeds");
        }
    }
    Result<std::string> text = value_text(text_object.get());
    if (!text) return text.take_error();
    text_object.reset();

    std::string message;
    message.reserve(head.size() + text.value().size() + middle.size() + dtype_name.size());
    message += head;
    message += text.value();
    message += middle;
    message += dtype_name;
    Error result = Error::type_error(std::move(message));
    {
        Error dropped = std::move(conversion_error);  // released here, seen nowhere
    }
    return result;
}

}  // namespace

Error source_value_error(PyObject* value_object, std::string_view source_dtype_name,
                         Error conversion_error) {
    return value_error("scalar_map source value ", ": expected a value convertible to source dtype ",
                       value_object, source_dtype_name, std::move(conversion_error));
}

Error target_value_error(PyObject* value_object, std::string_view target_dtype_name,
                         Error conversion_error) {
    return value_error("scalar_map target value ", ": expected a value convertible to target dtype ",
                       value_object, target_dtype_name, std::move(conversion_error));
}

std::string replace_ill_formed_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        // The number of continuation bytes of a well-formed sequence with this lead byte, and
        // the range of its first continuation byte (the later ones are always 80..BF).
        std::size_t needed = 0;
        unsigned char first_lo = 0x80;
        unsigned char first_hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            needed = 1;
        } else if (lead == 0xE0) {
            needed = 2;
            first_lo = 0xA0;
        } else if (lead == 0xED) {
            needed = 2;
            first_hi = 0x9F;
        } else if (lead >= 0xE1 && lead <= 0xEF) {
            needed = 2;
        } else if (lead == 0xF0) {
            needed = 3;
            first_lo = 0x90;
        } else if (lead == 0xF4) {
            needed = 3;
            first_hi = 0x8F;
        } else if (lead >= 0xF1 && lead <= 0xF3) {
            needed = 3;
        }
        std::size_t end = i + 1;
        std::size_t taken = 0;
        while (taken < needed && end < bytes.size()) {
            const auto c = static_cast<unsigned char>(bytes[end]);
            const unsigned char lo = taken == 0 ? first_lo : 0x80;
            const unsigned char hi = taken == 0 ? first_hi : 0xBF;
            if (c < lo || c > hi) break;
            ++end;
            ++taken;
        }
        if (needed != 0 && taken == needed) {
            out.append(bytes.substr(i, end - i));
        } else {
            out.append(kReplacementCharacter);  // a maximal subpart, or a byte no sequence starts with
        }
        i = end;
    }
    return out;
}

}  // namespace pelm_ossrel::py
