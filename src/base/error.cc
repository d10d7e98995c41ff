#include "base/error.h"

#include "base/text.h"

namespace zv {

namespace {

int exit_code = kExitOk;

struct ErrorRow {
  std::string_view code;
  std::string_view text;
  std::string_view detail;
};

constexpr std::string_view kUnknownCause = "The cause of this error is unknown.";

ErrorRow error_row(int number) {
  switch (number) {
    case kErrorCommunications:
      return {"COMMUNICATIONS_FAILURE", "Failed to perform communication request.",
              "Unable to access message queues."};
    case kErrorMemory:
      return {"OUT_OF_MEMORY", "An out of memory error has occurred.",
              "The application could not allocate enough memory to continue."};
    case kErrorMapData: return {"INVALID_MAP_DATA", "Invalid Transaction ID", kUnknownCause};
    case kErrorPort:
      return {"INVALID_PORT", "Invalid Port Number.",
              "The port number must be an Integer between 1 and 65535."};
    default: return {"UNKNOWN_ERROR", "An unhandled error has occured.", kUnknownCause};
  }
}

void put(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

// Texts may come from the agent or from input: every byte that is no
// printable UTF-8 character (a terminal escape, a line break, a NUL, a
// malformed sequence) is written as one '?', so that a document can reach a
// person's screen and an XML reader alike.
void put_printable(std::FILE* stream, std::string_view text) {
  while (!text.empty()) {
    std::size_t run = 0;
    for (std::size_t n; (n = printable_utf8_length(text.substr(run))) > 0;) run += n;
    put(stream, text.substr(0, run));
    if (run == text.size()) return;
    put(stream, "?");
    text.remove_prefix(run + 1);
  }
}

// Element content with its markup characters as entities, so that a text
// from the agent (a reason phrase) cannot close the element and add its own.
void put_escaped(std::FILE* stream, std::string_view text) {
  for (std::size_t at; (at = text.find_first_of("&<>")) != std::string_view::npos;) {
    put_printable(stream, text.substr(0, at));
    put(stream, text[at] == '&' ? "&amp;" : text[at] == '<' ? "&lt;" : "&gt;");
    text.remove_prefix(at + 1);
  }
  put_printable(stream, text);
}

// CDATA content: a "]]>" inside would end the section, so the section is
// closed between its "]]" and its ">" and opened again.
void put_cdata(std::FILE* stream, std::string_view text) {
  constexpr std::string_view kEnd = "]]>";
  for (std::size_t at; (at = text.find(kEnd)) != std::string_view::npos;) {
    put_printable(stream, text.substr(0, at + 2));
    put(stream, "]]><![CDATA[");
    text.remove_prefix(at + 2);
  }
  put_printable(stream, text);
}

}  // namespace

void print_error(std::FILE* stream, std::string_view code, std::string_view text,
                 std::string_view detail, const Words* words) {
  put(stream,
      "<?xml version=\"1.0\"?><transaction id=\"0\"><header><method>Agent</method>"
      "<subclass>ERROR</subclass></header><data><errorcode>");
  put_escaped(stream, code);
  put(stream, "</errorcode><errortext>");
  put_escaped(stream, text);
  put(stream, "</errortext><errordetail>");
  put_escaped(stream, detail);
  put(stream, "</errordetail>");
  if (words != nullptr) {
    put(stream, "<incoming_message><![CDATA[");
    bool first = true;
    for (const char* word : *words) {
      if (!first) put(stream, " ");
      put_cdata(stream, word);
      first = false;
    }
    put(stream, "]]></incoming_message>");
  }
  put(stream, "</data></transaction>\n");
  std::fflush(stream);
}

void show_error_detail_data(int number, std::string_view detail, const Words* words) {
  ErrorRow row = error_row(number);
  print_error(stderr, row.code, row.text, detail, words);
}

void show_error_detail(int number, std::string_view detail) {
  show_error_detail_data(number, detail, nullptr);
}

void show_error(int number) { show_error_detail(number, error_row(number).detail); }

void show_error_text(std::string_view text) {
  put(stderr, "ERROR  ");
  put(stderr, text);
  put(stderr, "\n");
  std::fflush(stderr);
}

namespace {

// The worse of two outcomes wins: something lost or not done (a record kept
// nowhere, memory, a file, the command line) outranks a refusal, which
// outranks "kept for later", which outranks success.
int severity(int code) {
  switch (code) {
    case kExitOk: return 0;
    case kExitCommunication: return 1;
    case kExitReplyStatus: return 2;
    case kExitCommandLine: return 3;
    case kExitMemory: return 4;
    case kExitFile: return 5;
    default: return 6;  // a signal's status
  }
}

}  // namespace

void set_exit_code(int code) {
  if (severity(code) >= severity(exit_code)) exit_code = code;
}

void reset_exit_code() { exit_code = kExitOk; }

int get_exit_code() { return exit_code; }

}  // namespace zv
