#include "borrow_registry.hpp"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <new>
#include <vector>

#include "numpy_api.hpp"

namespace pelm_ossrel::py {
namespace {

constexpr const char kAttributeName[] = "_ossrel_borrow_registry";
constexpr const char* kCapsuleName = kAttributeName;

struct BorrowKey {
    PyObject* owner;  // identity only; the borrower keeps the array, and so the owner, alive
    std::uintptr_t lo;
    std::uintptr_t hi;  // exclusive; lo == hi for an array without elements

    bool empty() const noexcept { return lo == hi; }
    bool same(const BorrowKey& other) const noexcept {
        return owner == other.owner && lo == other.lo && hi == other.hi;
    }
    bool intersects(const BorrowKey& other) const noexcept {
        return owner == other.owner && !empty() && !other.empty() && lo < other.hi && other.lo < hi;
    }
};

// One borrow granted: the array it was granted for and the key computed then. A release finds
// the borrow by the array's identity, so it gives back exactly what was registered, whatever
// the array's shape, strides or dtype are by then.
struct Grant {
    PyObject* array;  // identity only; the borrower keeps the array alive while it holds it
    BorrowKey key;
    bool exclusive;
};

struct RegistryState {
    std::vector<Grant> grants;  // in the order granted
};

// The key of `array`; -1 with an exception set when it has none.
int borrow_key(PyObject* array, BorrowKey* key) {
    if (!numpy_api_ready()) {
        if (Result<void> api = ensure_numpy_api(); !api) {
            api.take_error().raise();
            return kBorrowFailed;
        }
    }
    if (!is_ndarray(array)) {
        PyErr_SetString(PyExc_TypeError, "only NumPy arrays can be borrowed");
        return kBorrowFailed;
    }
    auto* arr = reinterpret_cast<PyArrayObject*>(array);

    PyObject* owner = array;
    for (;;) {
        PyObject* base = PyArray_BASE(reinterpret_cast<PyArrayObject*>(owner));
        if (base == nullptr) break;
        owner = base;
        if (!is_ndarray(base)) break;
    }

    const auto data = reinterpret_cast<std::uintptr_t>(PyArray_DATA(arr));
    *key = BorrowKey{owner, data, data};
    if (has_empty_axis(arr)) return kBorrowDone;

    const int nd = PyArray_NDIM(arr);
    const npy_intp* dims = PyArray_DIMS(arr);
    const npy_intp* strides = PyArray_STRIDES(arr);
    npy_intp low = 0;
    npy_intp high = descr_element_size(PyArray_DESCR(arr));
    for (int i = 0; i < nd; ++i) {
        npy_intp reach = 0;
        if (__builtin_mul_overflow(dims[i] - 1, strides[i], &reach) ||
            __builtin_add_overflow(reach < 0 ? low : high, reach, reach < 0 ? &low : &high)) {
            PyErr_SetString(PyExc_OverflowError, "the memory range of the array overflows");
            return kBorrowFailed;
        }
    }
    key->lo = data + static_cast<std::uintptr_t>(low);  // low <= 0: wraps to data - |low|
    key->hi = data + static_cast<std::uintptr_t>(high);
    return kBorrowDone;
}

template <bool Exclusive>
int acquire(void* state, PyObject* array) noexcept {
    try {
        auto& grants = static_cast<RegistryState*>(state)->grants;
        BorrowKey key{};
        if (borrow_key(array, &key) != kBorrowDone) return kBorrowFailed;
        for (const Grant& g : grants) {
            if (g.key.intersects(key) && (g.exclusive || Exclusive)) return kBorrowRefused;
        }
        grants.push_back(Grant{array, key, Exclusive});
        return kBorrowDone;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return kBorrowFailed;
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "the borrow registry failed");
        return kBorrowFailed;
    }
}

// Gives back the latest borrow of this kind granted for `array` itself; failing that, one
// granted for another array object with the key `array` has now (an equal view).
template <bool Exclusive>
int release(void* state, PyObject* array) noexcept {
    try {
        auto& grants = static_cast<RegistryState*>(state)->grants;
        auto it = std::find_if(grants.rbegin(), grants.rend(), [&](const Grant& g) {
            return g.array == array && g.exclusive == Exclusive;
        });
        if (it == grants.rend()) {
            BorrowKey key{};
            if (borrow_key(array, &key) != kBorrowDone) return kBorrowFailed;
            it = std::find_if(grants.rbegin(), grants.rend(), [&](const Grant& g) {
                return g.key.same(key) && g.exclusive == Exclusive;
            });
        }
        if (it == grants.rend()) {
            PyErr_SetString(PyExc_RuntimeError, Exclusive ? "no exclusive borrow of this array is held"
                                                          : "no shared borrow of this array is held");
            return kBorrowFailed;
        }
        grants.erase(std::next(it).base());
        return kBorrowDone;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return kBorrowFailed;
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "the borrow registry failed");
        return kBorrowFailed;
    }
}

int acquire_shared(void* state, PyObject* array) { return acquire<false>(state, array); }
int release_shared(void* state, PyObject* array) { return release<false>(state, array); }
int acquire_exclusive(void* state, PyObject* array) { return acquire<true>(state, array); }
int release_exclusive(void* state, PyObject* array) { return release<true>(state, array); }

const OssrelBorrowRegistry* g_registry = nullptr;  // kept once obtained

// A new, empty registry, published on `multiarray`. The record and its state live for the
// rest of the process.
Result<const OssrelBorrowRegistry*> publish_new_registry(PyObject* multiarray) {
    auto* state = new (std::nothrow) RegistryState();
    auto* record = new (std::nothrow) OssrelBorrowRegistry{
        kBorrowRegistryVersion, state, &acquire_shared, &release_shared, &acquire_exclusive,
        &release_exclusive};
    if (state == nullptr || record == nullptr) {
        delete state;
        delete record;
        return Error::memory_error();
    }
    py_ref capsule = py_ref::steal(PyCapsule_New(record, kCapsuleName, nullptr));
    if (!capsule || PyObject_SetAttrString(multiarray, kAttributeName, capsule.get()) < 0) {
        capsule.reset();  // no destructor: the record may be referenced only by the capsule
        delete state;
        delete record;
        return fault_from_pending("cannot publish the borrow registry");
    }
    return record;
}

}  // namespace

Result<const OssrelBorrowRegistry*> borrow_registry() {
    if (g_registry != nullptr) return g_registry;
    Result<py_ref> multiarray = import_multiarray();
    if (!multiarray) return multiarray.take_error();
    PyObject* module = multiarray.value().get();

    py_ref published = py_ref::steal(PyObject_GetAttrString(module, kAttributeName));
    if (!published) {
        PyErr_Clear();
        Result<const OssrelBorrowRegistry*> created = publish_new_registry(module);
        if (created) g_registry = created.value();
        return created;
    }
    if (!PyCapsule_IsValid(published.get(), kCapsuleName)) {
        return Error::fault("the borrow registry published on NumPy is not a capsule named "
                            "'_ossrel_borrow_registry'");
    }
    auto* record = static_cast<const OssrelBorrowRegistry*>(
        PyCapsule_GetPointer(published.get(), kCapsuleName));
    if (record->version != kBorrowRegistryVersion) {
        return Error::fault("the borrow registry published on NumPy has version " +
                            std::to_string(record->version) + ", not 1");
    }
    g_registry = record;
    return g_registry;
}

}  // namespace pelm_ossrel::py
