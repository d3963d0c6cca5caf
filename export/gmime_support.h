/*
 * What the export folder's two uses of GMime share: the library set up
 * once per process, and a GObject reference dropped when it goes out of
 * scope.
 */
#ifndef VELKO_EXPORT_GMIME_SUPPORT_H
#define VELKO_EXPORT_GMIME_SUPPORT_H

#include <gmime/gmime.h>

#include <mutex>

inline void InitialiseGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

/* Drops a GObject reference when it goes out of scope. */
template <typename T> struct object_ref {
  T* object = nullptr;
  explicit object_ref(T* created) : object(created) {}
  ~object_ref() {
    if (object != nullptr)
      g_object_unref(object);
  }
  object_ref(const object_ref&) = delete;
  object_ref& operator=(const object_ref&) = delete;
  T* get() const { return object; }
};

#endif
