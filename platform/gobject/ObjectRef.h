#pragma once

#include <glib-object.h>

#include <utility>

namespace platform::gobject {

// Owns one strong reference to a GObject; the only place adapters keep GObjects.
template <typename T>
class ObjectRef {
 public:
  ObjectRef() = default;
  ObjectRef(const ObjectRef& other) : object_(other.object_) {
    if (object_) g_object_ref(object_);
  }
  ObjectRef(ObjectRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ObjectRef& operator=(const ObjectRef& other) {
    ObjectRef copy(other);
    std::swap(object_, copy.object_);
    return *this;
  }
  ObjectRef& operator=(ObjectRef&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~ObjectRef() {
    if (object_) g_object_unref(object_);
  }

  // Takes over a reference the caller already owns (a "transfer full" return).
  static ObjectRef adopt(T* object) {
    ObjectRef ref;
    ref.object_ = object;
    return ref;
  }
  // Adds a reference of its own (a "transfer none" return); sinks floating ones.
  static ObjectRef retain(T* object) {
    ObjectRef ref;
    ref.object_ = object != nullptr ? static_cast<T*>(g_object_ref_sink(object)) : nullptr;
    return ref;
  }

  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  T* release() { return std::exchange(object_, nullptr); }

 private:
  T* object_ = nullptr;
};

}  // namespace platform::gobject
