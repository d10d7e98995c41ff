// An open file descriptor with one owner.
#pragma once

#include <cerrno>

namespace zv {

/// Calls `call` (a system call returning a negative value on failure) again
/// for as long as it fails with EINTR; returns its last result.
template <class Call>
auto retried(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

/// An owned descriptor, closed on destruction.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept;
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor();
  int get() const { return fd_; }
  /// Gives the descriptor up to the caller, who closes it.
  int release();
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace zv
