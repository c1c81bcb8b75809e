#pragma once
// Owning COM pointer: the one place where Release is called.

#include <objbase.h>

#include <utility>

namespace quillon {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference on p.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~ComPtr() { Reset(); }
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  // Adopts a reference the caller already owns.
  static ComPtr Adopt(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out parameters: drops what is held first.
  T** Put() {
    Reset();
    return &p_;
  }
  // Hands a new reference to an out parameter.
  void CopyTo(T** out) const {
    *out = p_;
    if (p_) p_->AddRef();
  }

  template <typename U>
  ComPtr<U> As() const {
    ComPtr<U> u;
    if (p_) p_->QueryInterface(__uuidof(U), reinterpret_cast<void**>(u.Put()));
    return u;
  }
  template <typename U>
  ComPtr<U> As(REFIID iid) const {
    ComPtr<U> u;
    if (p_) p_->QueryInterface(iid, reinterpret_cast<void**>(u.Put()));
    return u;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace quillon
