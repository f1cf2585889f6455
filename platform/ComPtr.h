#pragma once
// Move-only owner of one interface reference: releases it on destruction.
#include <utility>

#include "platform/Unknown.h"

namespace simdex {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already owns (no AddRef).
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  // Shares a borrowed pointer (AddRef).
  static ComPtr Share(T* p) {
    if (p) p->AddRef();
    return Adopt(p);
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) Reset(std::exchange(o.p_, nullptr));
    return *this;
  }
  ~ComPtr() { Reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Gives up ownership without releasing.
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset(T* p = nullptr) {
    if (p_) p_->Release();
    p_ = p;
  }
  // For out parameters: releases the current reference first.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

 private:
  T* p_ = nullptr;
};

}  // namespace simdex
