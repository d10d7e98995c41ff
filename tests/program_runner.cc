#include "program_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

extern char** environ;

namespace zv::test {

namespace {

using Clock = std::chrono::steady_clock;

/// A pipe whose ends close themselves; both ends are close-on-exec so that
/// the child keeps only what it dup2s onto 0, 1 and 2.
struct Pipe {
  int read_end = -1;
  int write_end = -1;
  bool open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end = fds[0];
    write_end = fds[1];
    return true;
  }
  static void close_end(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  ~Pipe() {
    close_end(read_end);
    close_end(write_end);
  }
};

void child_fail(const char* what) {
  // Only async-signal-safe calls between fork and exec.
  const char* reason = std::strerror(errno);
  (void)!::write(2, "program_runner: ", 16);
  (void)!::write(2, what, std::strlen(what));
  (void)!::write(2, ": ", 2);
  (void)!::write(2, reason, std::strlen(reason));
  (void)!::write(2, "\n", 1);
  ::_exit(127);
}

/// Puts `fd` on `target` for the child, without close-on-exec.  A test run
/// with a closed standard input gets a pipe end on 0 already, and dup2 onto
/// itself would leave the flag set.
bool move_fd(int fd, int target) {
  if (fd == target) return ::fcntl(fd, F_SETFD, 0) == 0;
  return ::dup2(fd, target) >= 0;
}

/// The child's environment: the test's own with the options' variables set.
std::vector<std::string> child_environment(const RunOptions& options) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    bool replaced = false;
    for (const auto& [name, value] : options.env) {
      replaced |= text.size() > name.size() && text.starts_with(name) && text[name.size()] == '=';
    }
    if (!replaced) entries.emplace_back(text);
  }
  for (const auto& [name, value] : options.env) entries.push_back(name + "=" + value);
  return entries;
}

int remaining_ms(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool drain(int& fd, std::string& into) {
  char block[16384];
  ssize_t n = ::read(fd, block, sizeof block);
  if (n > 0) {
    into.append(block, static_cast<std::size_t>(n));
    return true;
  }
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  Pipe::close_end(fd);
  return false;
}

}  // namespace

RunResult run_program(const std::string& path, const std::vector<std::string>& args,
                      const RunOptions& options) {
  RunResult result;

  std::vector<std::string> words;
  words.push_back(options.argv0.value_or(path));
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = child_environment(options);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);

  Pipe in, out, err;
  if (!in.open() || !out.open() || !err.open()) {
    result.failure = std::string("pipe: ") + std::strerror(errno);
    return result;
  }

  const pid_t pid = ::fork();
  if (pid < 0) {
    result.failure = std::string("fork: ") + std::strerror(errno);
    return result;
  }
  if (pid == 0) {
    if (!move_fd(in.read_end, 0) || !move_fd(out.write_end, 1) || !move_fd(err.write_end, 2)) {
      child_fail("dup2");
    }
    // The test ignores SIGPIPE while it feeds standard input; the program
    // must start with the default disposition.
    ::signal(SIGPIPE, SIG_DFL);
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) child_fail("chdir");
    ::execve(path.c_str(), argv.data(), envp.data());
    child_fail("execve");
  }

  Pipe::close_end(in.read_end);
  Pipe::close_end(out.write_end);
  Pipe::close_end(err.write_end);
  const std::string input = options.input.value_or("");
  std::size_t written = 0;
  if (written == input.size()) Pipe::close_end(in.write_end);
  if (in.write_end >= 0) ::fcntl(in.write_end, F_SETFL, O_NONBLOCK);

  struct sigaction ignore {}, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous);

  const Clock::time_point deadline = Clock::now() + options.timeout;
  // Standard input, output and error are served together: a child that
  // writes much before it reads everything would otherwise block forever.
  while (out.read_end >= 0 || err.read_end >= 0 || in.write_end >= 0) {
    pollfd fds[3];
    nfds_t count = 0;
    int* owners[3];
    for (int* fd : {&out.read_end, &err.read_end}) {
      if (*fd < 0) continue;
      fds[count] = {*fd, POLLIN, 0};
      owners[count++] = fd;
    }
    if (in.write_end >= 0) {
      fds[count] = {in.write_end, POLLOUT, 0};
      owners[count++] = &in.write_end;
    }
    const int timeout = remaining_ms(deadline);
    if (timeout == 0) break;
    const int ready = ::poll(fds, count, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (owners[i] == &in.write_end) {
        ssize_t n = ::write(in.write_end, input.data() + written, input.size() - written);
        if (n > 0) written += static_cast<std::size_t>(n);
        if ((n < 0 && errno != EINTR && errno != EAGAIN) || written == input.size()) {
          Pipe::close_end(in.write_end);
        }
      } else {
        drain(*owners[i], owners[i] == &out.read_end ? result.out : result.err);
      }
    }
  }
  ::sigaction(SIGPIPE, &previous, nullptr);

  // The streams may end before the process does; wait for it, but bounded.
  int wait_status = 0;
  pid_t ended = 0;
  for (;;) {
    ended = ::waitpid(pid, &wait_status, WNOHANG);
    if (ended < 0 && errno == EINTR) continue;
    if (ended != 0 || remaining_ms(deadline) == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (ended < 0) {
    result.failure = std::string("waitpid: ") + std::strerror(errno);
    return result;
  }
  if (ended == 0) {
    result.timed_out = true;
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
    }
  }
  if (WIFEXITED(wait_status)) {
    result.status = WEXITSTATUS(wait_status);
  } else if (WIFSIGNALED(wait_status)) {
    result.signal = WTERMSIG(wait_status);
  }
  return result;
}

RunResult run_program(const std::string& path, const std::vector<std::string>& args,
                      const std::string& cwd) {
  RunOptions options;
  options.cwd = cwd;
  return run_program(path, args, options);
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/zv_test_XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace zv::test
