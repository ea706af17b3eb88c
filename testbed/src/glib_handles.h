// Owning handles for the GLib and POSIX resources the testbed holds.
#pragma once

#include <glib-object.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <utility>

namespace testbed::detail {

template <typename T>
struct GObjectUnref {
  void operator()(T* object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref<T>>;

// Takes a new reference: for objects GLib only lends us.
template <typename T>
GObjectPtr<T> add_ref(T* object) {
  return GObjectPtr<T>(static_cast<T*>(g_object_ref(object)));
}

struct GFree {
  void operator()(void* memory) const { g_free(memory); }
};
using GCharPtr = std::unique_ptr<char, GFree>;

// Converts a transfer-full gchar* and frees it; null gives "".
inline std::string take_string(char* owned) {
  GCharPtr holder(owned);
  return holder ? std::string(holder.get()) : std::string();
}

class GErrorHolder {
 public:
  GErrorHolder() = default;
  GErrorHolder(const GErrorHolder&) = delete;
  GErrorHolder& operator=(const GErrorHolder&) = delete;
  ~GErrorHolder() { g_clear_error(&error_); }
  GError** out() { return &error_; }
  std::string message() const { return error_ ? error_->message : "unknown error"; }

 private:
  GError* error_ = nullptr;
};

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

}  // namespace testbed::detail
