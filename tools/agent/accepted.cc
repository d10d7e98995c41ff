#include "accepted.h"

#include <fcntl.h>

namespace zvagent {

bool AcceptedRecord::open(const std::string& path) {
  if (path.empty()) return true;
  file_.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  return file_.get() >= 0;
}

bool AcceptedRecord::add(std::string_view body) {
  if (file_.get() < 0) return true;
  std::string line(body);
  line += '\n';
  return write_all(file_.get(), line);
}

}  // namespace zvagent
