// The borrow registry shared by the extensions of a process that follow its protocol.
//
// It is published as the attribute `_ossrel_borrow_registry` of NumPy's multiarray module: a
// capsule of that name whose pointer is the record below. Each function is called with the
// interpreter lock held and answers 0 (done), 1 (refused: a conflicting borrow is held) or -1
// (failed with a Python exception set).
//
// A borrow is keyed by the array's base owner (the end of its chain of ndarray bases) and its
// memory range [lowest byte, highest byte + item size); an array without elements has an empty
// range and never conflicts. A shared request conflicts with an exclusive borrow of the same
// owner whose range intersects; an exclusive request with any intersecting borrow of the owner.
// A release gives back a borrow of its kind that was granted for the same array object, with
// the key computed when it was granted (the array's shape, strides, dtype or buffer may have
// changed since); failing that, one granted for another array object with the same key.
#pragma once

#include <cstdint>

#include "errors.hpp"
#include "py_ref.hpp"

namespace pelm_ossrel::py {

extern "C" {
struct OssrelBorrowRegistry {
    std::uint64_t version;  // 1
    void* state;
    int (*acquire_shared)(void* state, PyObject* array);
    int (*release_shared)(void* state, PyObject* array);
    int (*acquire_exclusive)(void* state, PyObject* array);
    int (*release_exclusive)(void* state, PyObject* array);
};
}

inline constexpr std::uint64_t kBorrowRegistryVersion = 1;
inline constexpr int kBorrowDone = 0;
inline constexpr int kBorrowRefused = 1;
inline constexpr int kBorrowFailed = -1;

// The registry of the process: read from NumPy's multiarray module once, or created and
// published there when the attribute cannot be read. A capsule of another name, or a record
// of another version, is an internal fault.
Result<const OssrelBorrowRegistry*> borrow_registry();

}  // namespace pelm_ossrel::py
