#include "files/recovery_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/error.h"
#include "files/log_record.h"

namespace zv {

namespace {

constexpr int kLogFlags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
constexpr mode_t kLogMode = 0600;

bool needs_escape(char c) { return c == '\\' || c == '"'; }

std::size_t encoded_size(std::string_view item) {
  std::size_t size = item.size() + 2;
  for (char c : item) size += needs_escape(c);
  return size;
}

void append_encoded(Text& out, std::string_view item) {
  out.push_back('"');
  for (char c : item) {
    if (needs_escape(c)) out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

int open_log(const char* path) {
  int fd;
  do {
    fd = ::open(path, kLogFlags, kLogMode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// One writev puts the line and its LF at the end of the file in a single
// append, so that clients appending at once never interleave their records.
// A remainder after a short write (a full disk, a signal) still lands behind
// what went before, and the record still ends with its LF.
bool write_record(int fd, std::string_view line) {
  static char line_end = '\n';
  std::size_t done = 0;
  std::size_t total = line.size() + 1;
  while (done < total) {
    iovec parts[2];
    int count = 0;
    if (done < line.size()) {
      parts[count++] = {const_cast<char*>(line.data() + done), line.size() - done};
    }
    parts[count++] = {&line_end, 1};
    ssize_t written = ::writev(fd, parts, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

// A short text lives inside the Text object rather than in a gate block,
// so the gate's wipe on release would miss it.
void wipe(Text& text) { memory_wipe(text.data(), text.size()); }

bool sync(int fd) {
  int result;
  do {
    result = ::fsync(fd);
  } while (result < 0 && errno == EINTR);
  return result == 0;
}

}  // namespace

Text log_encode_map_data(std::string_view item) {
  Text encoded;
  encoded.reserve(encoded_size(item));
  append_encoded(encoded, item);
  return encoded;
}

Text log_map_data_line(const char* transaction_id, Words items, std::size_t first) {
  std::string_view id = transaction_id != nullptr ? transaction_id : "0";
  std::size_t end = first;
  std::size_t size = id.size();
  while (end < items.size() && items[end] != nullptr) size += 1 + encoded_size(items[end++]);

  Text line;
  line.reserve(size);
  line.append(id);
  for (std::size_t i = first; i < end; ++i) {
    line.push_back(' ');
    append_encoded(line, items[i]);
  }
  return line;
}

int log_open_file() {
  ::mkdir("logs", 0755);
  int fd = open_log("logs/ZVClient.log");
  if (fd >= 0) return fd;
  fd = open_log("ZVClient.log");
  if (fd >= 0) return fd;
  ::mkdir("/tmp", 0755);
  return open_log("/tmp/ZVClient.log");
}

bool log_write(std::string_view line) {
  int fd = log_open_file();
  bool written = fd >= 0 && write_record(fd, line);
  bool synced = written && sync(fd);
  if (fd >= 0) ::close(fd);
  return synced;
}

// Which record a failed submission leaves is decided here alone, so that a
// new kind of record only touches this function.
void log_error(const Arguments& arguments) {
  try {
    if (arguments.map_data_words) {
      std::size_t first =
          arguments.map_data_index < 0 ? 0 : static_cast<std::size_t>(arguments.map_data_index);
      Text line =
          log_map_data_record(arguments.map_data_transaction_id, *arguments.map_data_words, first);
      log_write(line);
      wipe(line);
    } else if (arguments.message != nullptr) {
      std::string_view message = arguments.message;
      if (log_message_is_plain(message)) {
        log_write(message);  // as it stands: no copy of a large message
      } else {
        Text line = log_message_record(message);
        log_write(line);
        wipe(line);
      }
    }
  } catch (const memory_exhausted&) {
    set_exit_code(kExitMemory);
  }
}

}  // namespace zv
