#include "program_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zv::test {

namespace {

// The child's standard streams are unlinked temporary files rather than
// pipes: nothing has to be served while it runs, and a large output cannot
// block it.  Close-on-exec keeps them out of children that other threads
// start meanwhile (dup2 onto 0, 1 and 2 clears the flag for our own).
struct TempFile {
  int fd;
  TempFile() {
    std::string name = std::filesystem::temp_directory_path().string() + "/zv_run_XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
  }
  ~TempFile() { ::close(fd); }
  std::string contents() const {
    std::string text(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
    return ::pread(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())
               ? text
               : "(unreadable)";
  }
};

}  // namespace

RunResult run_program(const std::string& path, const std::vector<std::string>& args,
                      const RunOptions& options) {
  std::vector<std::string> words{options.argv0.value_or(path)};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    bool replaced = false;
    for (const auto& [name, value] : options.env) replaced |= text.starts_with(name + "=");
    if (!replaced) environment.emplace_back(text);
  }
  for (const auto& [name, value] : options.env) environment.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (std::string& word : words) argv.push_back(word.data());
  for (std::string& entry : environment) envp.push_back(entry.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  RunResult result;
  TempFile in, out, err;  // made in this order, so a closed standard stream is refilled in place
  if (in.fd < 0 || out.fd < 0 || err.fd < 0) return result;

  const pid_t pid = ::fork();
  if (pid < 0) return result;
  if (pid == 0) {  // only async-signal-safe calls until exec
    const int streams[] = {in.fd, out.fd, err.fd};
    for (int target = 0; target < 3; ++target) {
      int fd = streams[target];
      if (fd == target ? ::fcntl(fd, F_SETFD, 0) != 0 : ::dup2(fd, target) < 0) ::_exit(127);
    }
    ::signal(SIGPIPE, SIG_DFL);  // the test may ignore it; the program must not inherit that
    die_with_the_test();
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(127);
    ::execve(path.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }

  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  int status = 0;
  rusage usage{};
  for (pid_t ended; (ended = ::wait4(pid, &status, WNOHANG, &usage)) != pid;) {
    if (ended < 0 && errno != EINTR) return result;
    if (std::chrono::steady_clock::now() > deadline || (options.kill_when && options.kill_when())) {
      ::kill(pid, SIGKILL);
      while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  result.peak_kib = usage.ru_maxrss;
  result.out = out.contents();
  result.err = err.contents();
  return result;
}

void die_with_the_test() { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }

TempDir::TempDir() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/zv_test_XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make " + pattern);
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace zv::test
