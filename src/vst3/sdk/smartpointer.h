// Reference-holding pointers for objects with addRef/release.
#pragma once

namespace Steinberg {

// Holds one reference to a counted object. IPtr(p) adds a reference;
// IPtr(p, false) adopts one the caller already owns.
template <class I> class IPtr {
public:
  IPtr() = default;
  IPtr(I *p, bool addRef = true) : ptr(p) {
    if (ptr && addRef)
      ptr->addRef();
  }
  IPtr(const IPtr &other) : ptr(other.ptr) {
    if (ptr)
      ptr->addRef();
  }
  template <class T> IPtr(const IPtr<T> &other) : ptr(other.get()) {
    if (ptr)
      ptr->addRef();
  }
  IPtr(IPtr &&other) noexcept : ptr(other.ptr) { other.ptr = nullptr; }
  ~IPtr() {
    if (ptr)
      ptr->release();
  }

  I *operator=(I *p) {
    if (p != ptr) {
      if (p)
        p->addRef();
      if (ptr)
        ptr->release();
      ptr = p;
    }
    return ptr;
  }
  IPtr &operator=(const IPtr &other) {
    *this = other.ptr;
    return *this;
  }
  IPtr &operator=(IPtr &&other) noexcept {
    if (this != &other) {
      if (ptr)
        ptr->release();
      ptr = other.ptr;
      other.ptr = nullptr;
    }
    return *this;
  }

  operator I *() const { return ptr; }
  I *operator->() const { return ptr; }
  I *get() const { return ptr; }
  void reset(I *p = nullptr) { *this = p; }
  // Gives up the reference without releasing it.
  I *take() {
    I *p = ptr;
    ptr = nullptr;
    return p;
  }

protected:
  I *ptr = nullptr;
};

// Adopts the creation reference of a freshly created object.
template <class I> IPtr<I> owned(I *p) { return IPtr<I>(p, false); }
// Takes an additional reference.
template <class I> IPtr<I> shared(I *p) { return IPtr<I>(p, true); }

} // namespace Steinberg
