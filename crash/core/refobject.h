// Reference-counted objects behind interfaces: every interface derives (virtually) from IRefCounted; objects
// derive from RefObject<Interfaces...>, which supplies the count. Ref<T> holds one reference; Query<I> asks an
// object for another of its interfaces.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace rvx {

class IRefCounted {
 public:
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  virtual ~IRefCounted() = default;
};

template <class... Interfaces>
class RefObject : public Interfaces... {
 public:
  uint32_t AddRef() override { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
  uint32_t Release() override {
    uint32_t left = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  RefObject() = default;
  RefObject(const RefObject&) = delete;
  RefObject& operator=(const RefObject&) = delete;

 private:
  std::atomic<uint32_t> count_{0};
};

template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(std::nullptr_t) {}
  Ref(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  Ref(const Ref& o) : Ref(o.p_) {}
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  Ref(const Ref<U>& o) : Ref(o.get()) {}
  ~Ref() {
    if (p_) p_->Release();
  }
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() { Ref().swap(*this); }
  void swap(Ref& o) noexcept { std::swap(p_, o.p_); }
  friend bool operator==(const Ref& a, const Ref& b) { return a.p_ == b.p_; }

 private:
  T* p_ = nullptr;
};

// Creates an object and hands out its first reference.
template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
  return Ref<T>(new T(std::forward<Args>(args)...));
}

// Another interface of the same object, or none.
template <class I, class From>
Ref<I> Query(From* object) {
  return Ref<I>(object ? dynamic_cast<I*>(object) : nullptr);
}
template <class I, class From>
Ref<I> Query(const Ref<From>& object) {
  return Query<I>(object.get());
}

}  // namespace rvx
