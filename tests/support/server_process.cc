#include "server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "agent_fixture.h"

namespace zv::test {

bool port_listening(int port) {
  const int fd = loopback_connect(port);
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

ServerProcess::ServerProcess(const std::string& program, const std::vector<std::string>& args,
                             int port, const std::string& log)
    : port_(port) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    die_with_the_test();
    int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  for (int i = 0; i < 100 && !listening(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

ServerProcess::~ServerProcess() {
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
}

}  // namespace zv::test
