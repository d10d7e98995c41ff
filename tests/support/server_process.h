// A server program nobody here wrote (or the stand-in agent behind one),
// run in the foreground for one test.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zv::test {

/// Whether something accepts connections on 127.0.0.1:`port`.
bool port_listening(int port);

/// Starts `program` with `args`, its output into `log`, and waits (bounded)
/// until 127.0.0.1:`port` takes connections; stopped with SIGTERM when the
/// object goes.
class ServerProcess {
 public:
  ServerProcess(const std::string& program, const std::vector<std::string>& args, int port,
                const std::string& log);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  bool listening() const { return port_listening(port_); }

 private:
  int port_;
  pid_t pid_ = -1;
};

}  // namespace zv::test
