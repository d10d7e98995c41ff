#include <sys/mman.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/memory.h"
#include "files/output.h"
#include "fuzz_support.h"
#include "fuzz_targets.h"
#include "operations/reply.h"
#include "operations/session.h"
#include "xml/xml_document.h"

namespace zv {

namespace {

using fuzz::check;

enum class Feed { kWhole, kPieces, kBytes, kCut };

// Everything the handler leaves behind that anyone can see.
struct Outcome {
  std::string output;
  std::string errors;
  int exit_code = 0;
  std::int32_t status = 0;
  std::int32_t responses = 0;
  bool operator==(const Outcome&) const = default;
};

struct Reply {
  std::string_view header;
  std::string_view body;
  unsigned char settings;
};

// The header ends with its first empty line: LF LF, with CRs allowed before
// each LF.  Without one the whole reply is header.
Reply cut_reply(std::string_view bytes, unsigned char settings) {
  bool line_end = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      if (line_end) return {bytes.substr(0, i + 1), bytes.substr(i + 1), settings};
      line_end = true;
    } else if (bytes[i] != '\r') {
      line_end = false;
    }
  }
  return {bytes, {}, settings};
}

Outcome handle(const Reply& reply, std::int32_t code, Feed feed) {
  Arguments arguments;
  arguments.status_query = reply.settings & 2;
  arguments.response_client = reply.settings & 4 ? "client" : nullptr;
  Parser parser;
  // Replies are written to a descriptor; one in memory keeps them.
  Descriptor written(::memfd_create("reply", MFD_CLOEXEC));
  check(static_cast<bool>(written));
  Output output(written.get(), false);
  Session session{arguments, parser, &output, reply.settings & 8 ? 1 : 0};
  Outcome outcome;
  reset_exit_code();
  {
    fuzz::StderrCapture capture;
    ReplyHandler handler(session);
    std::optional<std::uint64_t> length;
    if (reply.settings & 1) length = reply.body.size();
    handler.header(reply.header, code, length);
    // As a reader of the connection does: no empty pieces, and no more once
    // the handler wants none.
    auto give = [&](std::string_view piece) {
      if (!piece.empty() && handler.wants_body()) handler.body(piece);
    };
    if (feed == Feed::kPieces) {
      fuzz::PieceSizes sizes(reply.body);
      fuzz::for_each_piece(reply.body, &sizes, give);
    } else if (feed == Feed::kBytes) {
      fuzz::for_each_piece(reply.body, nullptr, give);
    } else {
      give(reply.body);
    }
    handler.end(feed == Feed::kCut ? "The reply of the agent ended before it was complete." : "");
    outcome.status = handler.status_code();
    outcome.errors = capture.text();
  }
  outcome.output.resize(static_cast<std::size_t>(::lseek(written.get(), 0, SEEK_CUR)));
  check(::pread(written.get(), outcome.output.data(), outcome.output.size(), 0) ==
        static_cast<ssize_t>(outcome.output.size()));
  outcome.exit_code = get_exit_code();
  outcome.responses = session.response_count;
  parser_clear(parser);
  reset_exit_code();
  return outcome;
}

// The code of the reply's status line, as the exchange hands it on; only
// replies with a well-formed final status line reach the handler.
std::optional<std::int32_t> final_status(const Reply& reply) {
  std::string_view line = reply.header.substr(0, reply.header.find('\n'));
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::optional<std::int32_t> code = http_status_code(line);
  if (code && *code < 200) return std::nullopt;
  return code;
}

}  // namespace

int reply_fuzz_one(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes = fuzz::bytes_of(data, size);
  unsigned char settings = fuzz::take_settings(bytes);
  Reply reply = cut_reply(bytes, settings);
  std::optional<std::int32_t> code = final_status(reply);
  if (!code) return 0;
  std::size_t before = memory_allocated;

  Outcome whole = handle(reply, *code, Feed::kWhole);
  check(handle(reply, *code, Feed::kPieces) == whole);
  check(handle(reply, *code, Feed::kBytes) == whole);

  check(whole.status == *code);
  if (whole.status == 200) {
    check(whole.exit_code == kExitOk && whole.errors.empty());
    check(whole.output.empty() || whole.output == reply.body);
  } else {
    check(whole.exit_code == kExitReplyStatus && !whole.errors.empty() && whole.output.empty());
  }

  // A reply that stopped short writes nothing; a rejected one is judged
  // just the same, a good one is reported as cut.
  Outcome cut = handle(reply, *code, Feed::kCut);
  check(cut.output.empty() && cut.status == whole.status);
  if (whole.status == 200) {
    check(cut.exit_code == kExitCommunication && !cut.errors.empty());
  } else {
    check(cut.exit_code == whole.exit_code && cut.errors == whole.errors);
  }
  check(memory_allocated == before);
  return 0;
}

}  // namespace zv
