#include "files/output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace zv {

Output::Output(int fd, bool owned) : owned_(owned ? fd : -1), fd_(fd) {}

// Standard output is never closed: the process may still report on it.
Output::~Output() = default;

bool Output::write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

Output output_open(const char* path) {
  if (path != nullptr) {
    int fd;
    do {
      fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) return Output(fd, true);
  }
  return Output(STDOUT_FILENO, false);
}

}  // namespace zv
