// zvagent: a stand-in for the Zelvane Agent, for tests, benchmarks and trying
// the client by hand.
#include <cstdio>
#include <string>

#include "options.h"
#include "server.h"

int main(int argc, char** argv) {
  std::string error;
  std::optional<zvagent::Options> options = zvagent::options_parse(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "zvagent: %s\nTry 'zvagent --help'.\n", error.c_str());
    return 2;
  }
  if (options->help) {
    std::string_view usage = zvagent::options_usage();
    std::fwrite(usage.data(), 1, usage.size(), stdout);
    return 0;
  }
  return zvagent::server_run(*options);
}
