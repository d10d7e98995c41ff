#include "files/block_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace zv {

GateBlock gate_block(std::size_t size) {
  GateBlock block(static_cast<char*>(memory_open(size)));
  if (!block) throw memory_exhausted();
  return block;
}

BlockReader::BlockReader(int fd, bool owned, std::size_t block_size) : fd_(fd), owned_(owned) {
  struct stat status;
  if (fd_ >= 0 && ::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode)) {
    limited_ = true;
    limit_ = static_cast<std::uint64_t>(status.st_size);
    off_t at = ::lseek(fd_, 0, SEEK_CUR);
    position_ = at > 0 ? static_cast<std::uint64_t>(at) : 0;
  }
  // A small regular file needs no more block than its size.
  std::uint64_t size = limited_ ? std::min<std::uint64_t>(block_size, remaining()) : block_size;
  block_size_ = static_cast<std::size_t>(std::max<std::uint64_t>(size, 1));
  try {
    block_ = gate_block(block_size_);
  } catch (const memory_exhausted&) {
    close();
    throw;
  }
}

BlockReader::BlockReader(BlockReader&& other) noexcept { *this = std::move(other); }

BlockReader& BlockReader::operator=(BlockReader&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    owned_ = std::exchange(other.owned_, false);
    ended_ = std::exchange(other.ended_, false);
    limited_ = std::exchange(other.limited_, false);
    limit_ = std::exchange(other.limit_, 0);
    position_ = std::exchange(other.position_, 0);
    block_ = std::move(other.block_);
    block_size_ = std::exchange(other.block_size_, 0);
    begin_ = std::exchange(other.begin_, 0);
    end_ = std::exchange(other.end_, 0);
  }
  return *this;
}

BlockReader::~BlockReader() { close(); }

void BlockReader::close() noexcept {
  if (fd_ >= 0 && owned_) ::close(fd_);
  fd_ = -1;
  owned_ = false;
}

void BlockReader::consume(std::size_t n) {
  memory_wipe(block_.get() + begin_, n);
  begin_ += n;
}

bool BlockReader::fill() {
  if (begin_ < end_) return true;
  if (fd_ < 0 || ended_) return false;
  std::size_t want = block_size_;
  if (limited_) want = static_cast<std::size_t>(std::min<std::uint64_t>(want, remaining()));
  ssize_t got = 0;
  if (want > 0) {
    do {
      got = ::read(fd_, block_.get(), want);
    } while (got < 0 && errno == EINTR);
  }
  if (got <= 0) {
    ended_ = true;
    begin_ = end_ = 0;
    return false;
  }
  begin_ = 0;
  end_ = static_cast<std::size_t>(got);
  position_ += end_;
  return true;
}

std::uint64_t BlockReader::remaining() const {
  if (!limited_) return UINT64_MAX;
  return limit_ > position_ ? limit_ - position_ : 0;
}

bool BlockReader::seek(std::uint64_t offset) {
  if (!limited_ || offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return false;
  consume(end_ - begin_);
  begin_ = end_ = 0;
  position_ = offset;
  ended_ = false;
  return true;
}

}  // namespace zv
