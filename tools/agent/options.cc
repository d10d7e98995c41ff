#include "options.h"

#include <cstring>

namespace zvagent {
namespace {

constexpr std::string_view kUsage =
    "Usage: zvagent [options]\n"
    "A stand-in for the Zelvane Agent: serves the client's HTTP interface on 127.0.0.1,\n"
    "one connection at a time.  The first line of standard output is \"port N\".\n"
    "\n"
    "  --port N                    listen on port N (0 or absent: a free port)\n"
    "  --listen ADDRESS            listen on 127.0.0.1 (the default) or ::1\n"
    "  --runtime-config DIR        write DIR/etc/.runtime.xml naming the port\n"
    "  --record FILE               write request N, byte for byte, to FILE.N (from 1)\n"
    "  --queue-response CLIENT TEXT  queue TEXT as a response for CLIENT (repeatable)\n"
    "  --reply LINE                script the reply to the next request (repeatable)\n"
    "  --script FILE               script replies, one line per request\n"
    "  --faults SEED:NAME=PCT,...  once the script is used up, draw a fault for each\n"
    "                              connection: reset-before-read, reset-after-read,\n"
    "                              close-after-read or trickle, each PCT percent of the\n"
    "                              time (the same SEED gives the same sequence)\n"
    "  --accepted FILE             append the form body of each POST answered whole\n"
    "                              with status 200 to FILE, one line each\n"
    "  --tls FILE                  take connections over TLS with the certificate chain\n"
    "                              and key in the PEM file FILE (TLS 1.2 or newer)\n"
    "  --tls-client-ca FILE        with --tls, ask every client for a certificate signed\n"
    "                              by a CA in FILE\n"
    "  --max-requests N            end after N requests\n"
    "  --exit-after-idle MS        end after MS milliseconds without a connection\n"
    "  --help                      print this text\n"
    "\n"
    "Requests: POST message=... or transactionid=...&mapdata=... is taken and answered\n"
    "with an agent Status message; GET .../status? reports the counts; GET ...?client=ID\n"
    "hands out the next response waiting for ID, else a Status message.\n"
    "A message containing <client>ID</client>, or a data-map submission whose first\n"
    "item is ID, queues an echo of itself as a response for ID.\n"
    "\n"
    "Script lines (--reply and --script, used in command-line order, then the\n"
    "agent's own replies): words such as\n"
    "  status=404  reason=\"Not Found\"  status-line=\"HTTP/1.1 500\"  lf  no-length\n"
    "  length=N  body=TEXT  body-bytes=N  body-mib=N  endless-header  endless-body\n"
    "  raw=\"HTTP/1.0 200 OK\\r\\n\\r\\n...\"  extra=TEXT (sent after the body)\n"
    "  split=16,body,body-1  trickle=N (bytes a write)  pause=MS\n"
    "  cut=body+4 (send only so far, then close; with reset, reset)  hold (keep open)\n"
    "  early (answer once the request's header is in, its body unread)\n"
    "  stall=MS  reset  refuse  close  never-answer  never-read  agent\n"
    "A connection held open (hold, never-answer, never-read) ends when the client\n"
    "closes it.\n"
    "Escapes in values: \\r \\n \\t \\s \\\" \\\\ \\xHH.\n"
    "\n"
    "Ends cleanly on SIGTERM or SIGINT.  Exit status: 0 on a clean end, 1 when it\n"
    "cannot listen, write its files or use its TLS certificate, 2 for a bad command\n"
    "line.\n";

bool parse_count(const char* text, long low, long high, long& out) {
  if (!text || !*text || std::strlen(text) > 12) return false;
  long n = 0;
  for (const char* c = text; *c; ++c) {
    if (*c < '0' || *c > '9') return false;
    n = n * 10 + (*c - '0');
  }
  if (n < low || n > high) return false;
  out = n;
  return true;
}

}  // namespace

std::string_view options_usage() { return kUsage; }

std::optional<Options> options_parse(int argc, char** argv, std::string& error) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string_view option = argv[i];
    auto value = [&](int index) -> const char* {
      return i + index < argc ? argv[i + index] : nullptr;
    };
    auto missing = [&](const char* what) {
      error = std::string(option) + " needs " + what;
      return std::nullopt;
    };
    long n = 0;
    if (option == "--help") {
      options.help = true;
    } else if (option == "--port") {
      if (!parse_count(value(1), 0, 65535, n)) return missing("a port from 0 to 65535");
      options.port = static_cast<int>(n);
      ++i;
    } else if (option == "--listen") {
      if (!value(1) ||
          (std::string_view(value(1)) != "127.0.0.1" && std::string_view(value(1)) != "::1"))
        return missing("127.0.0.1 or ::1");
      options.ipv6 = std::string_view(value(1)) == "::1";
      ++i;
    } else if (option == "--max-requests") {
      if (!parse_count(value(1), 1, 2147483647, n)) return missing("a positive number");
      options.max_requests = n;
      ++i;
    } else if (option == "--exit-after-idle") {
      if (!parse_count(value(1), 1, 2147483647, n))
        return missing("a positive number of milliseconds");
      options.idle_ms = n;
      ++i;
    } else if (option == "--runtime-config" || option == "--record" || option == "--tls" ||
               option == "--tls-client-ca" || option == "--accepted") {
      if (!value(1) || !*value(1)) return missing("a path");
      std::string& path = option == "--record"          ? options.record
                          : option == "--tls"           ? options.tls_certificate
                          : option == "--tls-client-ca" ? options.tls_client_ca
                          : option == "--accepted"      ? options.accepted
                                                        : options.runtime_dir;
      path = value(1);
      ++i;
    } else if (option == "--queue-response") {
      if (!value(1) || !value(2)) return missing("a client id and a text");
      options.responses.emplace_back(value(1), value(2));
      i += 2;
    } else if (option == "--reply") {
      if (!value(1)) return missing("a script line");
      std::optional<ScriptStep> step = script_parse_line(value(1), error);
      if (!step) {
        error = "--reply: " + error;
        return std::nullopt;
      }
      options.script.push_back(std::move(*step));
      ++i;
    } else if (option == "--faults") {
      if (!value(1)) return missing("a fault mix");
      options.faults = faults_parse(value(1), error);
      if (!options.faults) return std::nullopt;
      ++i;
    } else if (option == "--script") {
      if (!value(1)) return missing("a file");
      if (!script_load_file(value(1), options.script, error)) return std::nullopt;
      ++i;
    } else {
      error = "unknown option " + std::string(option);
      return std::nullopt;
    }
  }
  if (!options.tls_client_ca.empty() && options.tls_certificate.empty()) {
    error = "--tls-client-ca needs --tls";
    return std::nullopt;
  }
  return options;
}

}  // namespace zvagent
