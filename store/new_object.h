/*
 * Objects and arrays of the library made without letting an exception out:
 * null when memory is short, also when the object's own constructor runs
 * out of it. Every `new` of the library's folders goes through here, so a
 * test can refuse each in turn (store/tracked_memory_testing.h).
 */
#ifndef VELKO_STORE_NEW_OBJECT_H
#define VELKO_STORE_NEW_OBJECT_H

#include <stddef.h>

#include <new>
#include <utility>

/* Counts an allocation of an object, an array or an index entry of the
 * tracked pool; true when a test refuses it. */
bool ObjectAllocationRefused();

template <typename T, typename... Args> T* NewObject(Args&&... args) noexcept {
  if (ObjectAllocationRefused())
    return nullptr;
  try {
    return new T(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

/* The private block of a class of the interface, made by its constructor.
 * A constructor can only fail by throwing: std::bad_alloc, as the
 * allocation of the object itself does. NewObject catches it for every
 * object the library makes. */
template <typename T> T* NewPrivateBlock() {
  if (ObjectAllocationRefused())
    throw std::bad_alloc();
  return new T();
}

template <typename T> T* NewArray(size_t count) noexcept {
  if (ObjectAllocationRefused())
    return nullptr;
  return new (std::nothrow) T[count];
}

#endif
