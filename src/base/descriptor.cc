#include "base/descriptor.h"

#include <unistd.h>

#include <utility>

namespace zv {

Descriptor::Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

// close is not retried on EINTR: the descriptor is gone either way, and a
// second close could hit a descriptor that was reused meanwhile.
Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

int Descriptor::release() { return std::exchange(fd_, -1); }

}  // namespace zv
