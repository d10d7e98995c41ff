#include "files/set_aside.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/uio.h>
#include <unistd.h>

#include "base/text.h"
#include "files/safe_file.h"

namespace zv {

Text set_aside_name(const char* log_path) { return string_concat(log_path, ".", "setaside"); }

bool set_aside(const char* log_path, std::string_view line) {
  Text name = set_aside_name(log_path);
  bool created = false;
  Descriptor fd = safe_open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT, nullptr, &created);
  if (!fd || !lock_exclusive(fd.get())) return false;
  char line_end = '\n';
  iovec parts[2] = {{const_cast<char*>(line.data()), line.size()}, {&line_end, 1}};
  std::size_t left = line.size() + 1;
  while (left > 0) {
    ssize_t written = retried([&] { return ::writev(fd.get(), parts, 2); });
    if (written <= 0) return false;
    left -= static_cast<std::size_t>(written);
    for (iovec& part : parts) {
      std::size_t taken = std::min(part.iov_len, static_cast<std::size_t>(written));
      part.iov_base = static_cast<char*>(part.iov_base) + taken;
      part.iov_len -= taken;
      written -= static_cast<ssize_t>(taken);
    }
  }
  return durable_calls().sync(fd.get()) == 0 &&
         (!created || durable_calls().sync_directory_of(name.c_str()) == 0);
}

}  // namespace zv
