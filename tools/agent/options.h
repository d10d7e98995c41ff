// The stand-in agent's command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "faults.h"
#include "script.h"

namespace zvagent {

struct Options {
  int port = 0;                    ///< 0: a free port chosen by the system
  bool ipv6 = false;               ///< listen on ::1 instead of 127.0.0.1
  std::string runtime_dir;         ///< where etc/.runtime.xml is written; empty: nowhere
  std::string record;              ///< request N goes to record + "." + N; empty: not recorded
  long max_requests = 0;           ///< end after this many requests; 0: no limit
  long idle_ms = 0;                ///< end after this long without a connection; 0: no limit
  std::vector<ScriptStep> script;  ///< steps for the first requests, in order
  std::vector<std::pair<std::string, std::string>> responses;  ///< client, document
  std::optional<FaultMix> faults;  ///< faults for requests past the script; none: no faults
  std::string accepted;            ///< where the accepted submissions are appended; empty: nowhere
  std::string tls_certificate;     ///< PEM with the chain and its key; empty: plain HTTP
  std::string tls_client_ca;       ///< with TLS, clients must show a certificate it signed
  bool help = false;
};

/// Parses the command line.  Returns nothing, with the reason in `error`,
/// for an unknown option, a missing or bad value, or a bad script.
std::optional<Options> options_parse(int argc, char** argv, std::string& error);

/// The text that --help prints.
std::string_view options_usage();

}  // namespace zvagent
