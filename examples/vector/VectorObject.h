#pragma once
// The vector object: N doubles compared by Euclidean distance, served as a
// component (use it as ComObject<VectorObject<Traits>>). One source serves
// both plug-ins; Traits fixes the dimension and the class interface.
//
// Compressed form: the N values as IEEE doubles, 8 bytes each,
// little-endian, in index order, nothing else (8·N bytes whatever the state).
// Index pages store exactly these bytes, so the layout never changes.
//
// A new object holds no vector; `initialize` gives it one. Calls that would
// read a vector that is not there, or another object's bytes that are not
// there, fail (E_UNEXPECTED, E_INVALIDARG) instead of reading outside any
// buffer; null pointers give E_POINTER.
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "examples/vector/VectorIds.h"
#include "platform/Coding.h"
#include "platform/IMTobject.h"
#include "platform/IMTobjectDispatch.h"

namespace simdex {

template <class Traits>
class VectorObject : public Traits::ClassInterface, public IMTobject {
 public:
  static constexpr int kDimension = Traits::kDimension;
  static constexpr int kCompressedSize = 8 * kDimension;

  // IUnknown (reference counting: ComObject) answers IUnknown, the class
  // interface and IMTobject. IDispatch itself is refused: the class
  // interface and IMTobject are dual, and asked for by name.
  IUnknown* FindInterface(REFIID iid) {
    if (iid == Traits::kClassInterfaceId)
      return static_cast<typename Traits::ClassInterface*>(this);
    if (iid == IID_IMTobject) return static_cast<IMTobject*>(this);
    return nullptr;
  }

  // Both dual interfaces answer the dispatch side from IMTobject's
  // description: the class interface adds no method.
  SIMDEX_IMPLEMENT_DISPATCH(IMTobject, IMTobjectDispatcher())

  // Euclidean distance: the squares of the differences, pow(diff, 2.0),
  // summed as doubles in index order, then the square root. `o` is reached
  // only through its compressed form.
  HRESULT distance(IMTobject* o, double* d) override {
    if (!d) return E_POINTER;
    *d = 0;
    if (!o) return E_POINTER;
    if (!vector_) return E_UNEXPECTED;
    int size = 0;
    o->compressedSize(&size);
    // Fewer bytes than N doubles would make us read past the other's form.
    if (size < kCompressedSize) return E_INVALIDARG;
    std::array<unsigned char, kCompressedSize> local;
    std::vector<unsigned char> larger;
    unsigned char* buffer = local.data();
    if (size > kCompressedSize) {
      try {
        larger.resize(static_cast<std::size_t>(size));
      } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
      }
      buffer = larger.data();
    }
    int written = size;
    HRESULT hr = o->compress(buffer, &written);
    if (FAILED(hr)) return hr;
    double sum = 0;
    for (int i = 0; i < kDimension; ++i)
      sum += std::pow(vector_[i] - DecodeDouble(buffer + 8 * i), 2.0);
    *d = std::sqrt(sum);
    return S_OK;
  }

  HRESULT compress(unsigned char* buff, int* size) override {
    if (!size) return E_POINTER;
    *size = 0;
    if (!buff) return E_POINTER;
    if (!vector_) return E_UNEXPECTED;
    for (int i = 0; i < kDimension; ++i) EncodeDouble(buff + 8 * i, vector_[i]);
    *size = kCompressedSize;
    return S_OK;
  }

  HRESULT compressedSize(int* size) override {
    if (!size) return E_POINTER;
    *size = kCompressedSize;
    return S_OK;
  }

  HRESULT initialize(unsigned char* buff) override {
    if (!buff) return E_POINTER;
    std::unique_ptr<double[]> values;
    try {
      values = std::make_unique_for_overwrite<double[]>(kDimension);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    for (int i = 0; i < kDimension; ++i) values[i] = DecodeDouble(buff + 8 * i);
    vector_ = std::move(values);
    return S_OK;
  }

  // Byte comparison of the compressed forms: 0.0 and -0.0 differ, equal NaN
  // bit patterns match.
  HRESULT equal(IMTobject* obj, int* res) override {
    if (!res) return E_POINTER;
    *res = 0;
    if (!obj) return E_POINTER;
    if (!vector_) return E_UNEXPECTED;
    int size = 0;
    obj->compressedSize(&size);
    // Another length can't be equal, and `obj` must not write past our buffer.
    if (size != kCompressedSize) return S_OK;
    std::array<unsigned char, kCompressedSize> theirs;
    int length = kCompressedSize;
    HRESULT hr = obj->compress(theirs.data(), &length);
    if (FAILED(hr)) return hr;
    if (length < 0 || length > kCompressedSize) return E_UNEXPECTED;
    std::array<unsigned char, kCompressedSize> mine;
    for (int i = 0; i < kDimension; ++i) EncodeDouble(mine.data() + 8 * i, vector_[i]);
    *res = std::memcmp(mine.data(), theirs.data(), static_cast<std::size_t>(length)) == 0;
    return S_OK;
  }

  HRESULT XMLInitialize(char*) override { return E_NOTIMPL; }

 protected:
  VectorObject() = default;
  ~VectorObject() = default;

 private:
  std::unique_ptr<double[]> vector_;  // kDimension values, or none
};

struct VectorATraits {
  static constexpr int kDimension = 45;
  using ClassInterface = IVectorAObject;
  static constexpr const IID& kClassInterfaceId = IID_IVectorAObject;
};

struct VectorBTraits {
  static constexpr int kDimension = 144;
  using ClassInterface = IVectorBObject;
  static constexpr const IID& kClassInterfaceId = IID_IVectorBObject;
};

using VectorAObject = VectorObject<VectorATraits>;
using VectorBObject = VectorObject<VectorBTraits>;

}  // namespace simdex
