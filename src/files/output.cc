#include "files/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/text.h"
#include "files/file.h"

namespace zv {

namespace {

// The mode a created post file has always had: 0666 less the umask.
mode_t created_mode() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool same_file(const struct stat& file, const char* other) {
  struct stat info {};
  return other != nullptr && ::stat(other, &info) == 0 && info.st_dev == file.st_dev &&
         info.st_ino == file.st_ino;
}

}  // namespace

Output::Output(int fd, bool owned) : owned_(owned ? fd : -1), fd_(fd) {}

Output::Output(Descriptor temporary, Text temporary_path, const char* path)
    : owned_(std::move(temporary)),
      fd_(owned_.get()),
      temporary_path_(std::move(temporary_path)),
      path_(path) {}

Output::Output(Output&& other) noexcept
    : owned_(std::move(other.owned_)),
      fd_(other.fd_),
      failed_(other.failed_),
      temporary_path_(std::move(other.temporary_path_)),
      path_(std::exchange(other.path_, nullptr)) {}

// Standard output is never closed: the process may still report on it.
Output::~Output() {
  if (path_ != nullptr) ::unlink(temporary_path_.c_str());
}

bool Output::write(std::string_view bytes) {
  if (failed_) return false;
  while (!bytes.empty()) {
    ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      failed_ = true;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool Output::finish() {
  if (path_ == nullptr) return !failed_;
  const char* path = std::exchange(path_, nullptr);
  bool done = !failed_ && ::rename(temporary_path_.c_str(), path) == 0;
  if (!done) ::unlink(temporary_path_.c_str());
  return done;
}

std::optional<Output> output_open(const char* path, std::span<const char* const> in_use,
                                  OutputRefusal& refusal) {
  refusal = OutputRefusal::kNone;
  if (path == nullptr) return Output(STDOUT_FILENO, false);
  struct stat info {};
  if (::lstat(path, &info) == 0) {
    if (!S_ISREG(info.st_mode)) {
      refusal = OutputRefusal::kNotRegular;
      return std::nullopt;
    }
    for (const char* other : in_use) {
      if (same_file(info, other)) {
        refusal = OutputRefusal::kInUse;
        return std::nullopt;
      }
    }
  }
  // The temporary file lives beside the path, so that the rename stays in
  // one file system.
  std::optional<Text> directory = get_path(path);
  Text temporary =
      string_concat(directory ? std::string_view(*directory) : "", ".ZVClient-post.", "XXXXXX");
  Descriptor fd(retried([&] { return ::mkostemp(temporary.data(), O_CLOEXEC); }));
  if (!fd || ::fchmod(fd.get(), created_mode()) != 0) {
    if (fd) ::unlink(temporary.c_str());
    return Output(STDOUT_FILENO, false);
  }
  return Output(std::move(fd), std::move(temporary), path);
}

}  // namespace zv
