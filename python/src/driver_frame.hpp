// The two typed drivers of every pair, written once: convert_into (cast_array_into) and
// convert_alloc (cast_array), and the table of them over a family's pairs.
//
// The conversion itself is the pair's step (pair_step.hpp); the frames do the rest: the input
// hold, the scalar map, the output (checked, or created), and the translation of a conversion
// error.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "cast_error.hpp"
#include "driver_table.hpp"
#include "element_types.hpp"
#include "errors.hpp"
#include "input_view.hpp"
#include "map_entry.hpp"
#include "numpy_api.hpp"
#include "pair_step.hpp"
#include "scalar_map.hpp"
#include "slice.hpp"

namespace pelm_ossrel::py {

// What the caller's output turned out to be, once it passed its checks.
enum class OutputState : unsigned char { Empty, Ready };

// The checks of a caller-supplied output against the target type, in order: the native element
// type (TypeError "'{}' object cannot be converted to 'PyArray<T, D>'"), an extent of 0 (Empty:
// nothing more is looked at), more than 32 axes (internal fault), writeable and row-major by
// its byte strides (ValueError "Output array must be row-major (C-contiguous) and writeable").
Result<OutputState> check_caller_output(PyObject* out, int type_number, npy_intp item_size);

// A new row-major array of `type_number` with the shape `arr` has now. When NumPy cannot create
// it because memory ran out (its pending error is a MemoryError), that MemoryError; when NumPy
// returns no descriptor or no array for another reason, an internal fault (NumPy's error
// printed first). Its buffer is not filled: the allocating frame writes every element (the
// converted ones, and zeros past the held run) before the array is seen by anyone, and drops
// the array when the conversion fails, so zero-filling it first would change nothing that a
// caller can observe and would cost a pass over the output (or its fresh pages) per call.
Result<py_ref> new_output_like(PyArrayObject* arr, int type_number);

// The checks of a new output that is not empty: at most 32 axes (internal fault), byte strides
// that form one row-major run (ValueError "Failed to get mutable slice from output array").
// An array NumPy has just created in C order always passes the stride walk; the walk stays
// because the frame writes the new array as one run, and this is the error the module's
// interface names for a new array that is not one.
Result<void> check_new_output(PyArrayObject* arr, npy_intp item_size);

// Whether two byte ranges share memory.
inline bool byte_ranges_overlap(const unsigned char* a, std::size_t a_size, const unsigned char* b,
                                std::size_t b_size) noexcept {
    const auto a0 = reinterpret_cast<std::uintptr_t>(a);
    const auto b0 = reinterpret_cast<std::uintptr_t>(b);
    return a_size != 0 && b_size != 0 && a0 < b0 + b_size && b0 < a0 + a_size;
}

// Runs the pair's step over the first min(input, output) elements of the two runs and turns a
// conversion error into ValueError. When the two runs share memory the step reads a private
// copy of the input, so that the result is what separate buffers give.
template <class S, class D>
Result<void> run_step(const PairStep<S, D>& step, SrcSlice<S> input, DstSlice<D> output, ScalarMap<S, D> map) {
    const std::size_t n = input.size() < output.size() ? input.size() : output.size();
    const DstSlice<D> written(output.bytes(), n);
    CastResult result;
    if (byte_ranges_overlap(input.bytes(), n * sizeof(S), output.bytes(), n * sizeof(D))) {
        std::unique_ptr<unsigned char[]> copy(new (std::nothrow) unsigned char[n * sizeof(S)]);
        if (!copy) return Error::memory_error();
        std::memcpy(copy.get(), input.bytes(), n * sizeof(S));
        result = step(SrcSlice<S>(copy.get(), n), written, map);
    } else {
        result = step(SrcSlice<S>(input.bytes(), n), written, map);
    }
    if (result) return cast_error_to_pyerr(*result);
    return {};
}

// The into frame: converts `arr` into the caller's `out`; returns None.
template <class S, class D>
Result<py_ref> convert_into(PyObject* arr, PyObject* out, const DriverCall& call) {
    Result<InputView<S>> input = readonly_row_major<S>(arr);
    if (!input) return input.take_error();
    Result<MapEntries<S, D>> map = parse_map_entries<S, D>(call.scalar_map_entries);
    if (!map) return map.take_error();

    Result<OutputState> output = check_caller_output(out, numpy_type_number<D>(), sizeof(D));
    if (!output) return output.take_error();
    if (output.value() == OutputState::Ready) {
        auto* out_array = reinterpret_cast<PyArrayObject*>(out);
        const DstSlice<D> run(PyArray_DATA(out_array), element_count(out_array));
        Result<SrcSlice<S>> held = input.value().run();
        if (!held) return held.take_error();
        const PairStep<S, D> step{call.rounding_mode, call.out_of_range_mode};
        Result<void> converted = run_step<S, D>(step, held.value(), run, ScalarMap<S, D>(map.value()));
        if (!converted) return converted.take_error();
    }
    return py_ref::borrow(Py_None);
}

// The allocating frame: converts `arr` into a new array of D with its shape; returns the array.
template <class S, class D>
Result<py_ref> convert_alloc(PyObject* arr, const DriverCall& call) {
    Result<InputView<S>> input = readonly_row_major<S>(arr);
    if (!input) return input.take_error();
    Result<MapEntries<S, D>> map = parse_map_entries<S, D>(call.scalar_map_entries);
    if (!map) return map.take_error();

    Result<py_ref> created = new_output_like(input.value().array(), numpy_type_number<D>());
    if (!created) return created.take_error();
    py_ref result = created.take();
    auto* out_array = reinterpret_cast<PyArrayObject*>(result.get());
    if (has_empty_axis(out_array)) return result;

    if (Result<void> fits = check_new_output(out_array, sizeof(D)); !fits) return fits.take_error();
    const DstSlice<D> run(PyArray_DATA(out_array), element_count(out_array));
    Result<SrcSlice<S>> held = input.value().run();
    if (!held) return held.take_error();  // the new array is dropped
    // The new array has the shape the input has now; when the caller's code made it hold more
    // elements than were held, the elements past the held ones are zero.
    if (run.size() > held.value().size()) {
        std::memset(run.bytes() + held.value().size() * sizeof(D), 0,
                    (run.size() - held.value().size()) * sizeof(D));
    }
    const PairStep<S, D> step{call.rounding_mode, call.out_of_range_mode};
    Result<void> converted = run_step<S, D>(step, held.value(), run, ScalarMap<S, D>(map.value()));
    if (!converted) return converted.take_error();  // the new array is dropped
    return result;
}

namespace detail {

template <class S, class... Ds>
constexpr std::array<PairDrivers, sizeof...(Ds)> driver_row(TypeList<Ds...>) {
    return {PairDrivers{&convert_alloc<S, Ds>, &convert_into<S, Ds>}...};
}

}  // namespace detail

// The drivers of every pair of a source type of SrcList and a target type of DstList.
template <class... Ss, class DstList>
constexpr auto make_driver_table(TypeList<Ss...>, DstList dst) {
    return std::array{detail::driver_row<Ss>(dst)...};
}

}  // namespace pelm_ossrel::py
