// Failure reporting: the XML error document, the plain error line, the
// table of error numbers and the exit codes of the process.
//
// Nothing here stops the program; callers decide what happens next.  The
// exit status is the worst code recorded: 40 (a file, or a record kept
// nowhere), then 30 (memory), 20 (the command line), 50 (the agent's
// status), 10 (not reached: kept for later), 0.  A later, milder code never
// hides a worse one.
#pragma once

#include <cstdio>
#include <span>
#include <string_view>

namespace zv {

/// Exit statuses of the process.
enum ExitCode : int {
  kExitOk = 0,
  kExitCommunication = 10,  // the agent could not be reached
  kExitCommandLine = 20,    // the command line was rejected
  kExitMemory = 30,         // the heap was exhausted
  kExitFile = 40,           // a named file could not be opened or renamed
  kExitReplyStatus = 50,    // the agent answered with a status other than 200
};

/// Error numbers that select a row of the error table; any other number
/// reports UNKNOWN_ERROR.
enum ErrorNumber : int {
  kErrorCommunications = 0,
  kErrorMemory = 1,
  kErrorMapData = 2,
  kErrorPort = 7,
};

/// A word vector: borrowed NUL-terminated texts (the command line, or the
/// words of a data-map line).
using Words = std::span<const char* const>;

/// Writes one error document to `stream`.  Texts may come from the agent or
/// from input, so none can change the document's structure: '&', '<' and
/// '>' in code, text and detail are written as entities, and a "]]>" in a
/// word splits the CDATA section around it; and every byte that is no
/// printable UTF-8 character (control characters, line breaks, malformed
/// sequences) is written as '?' (printable_utf8_length in text.h).  Texts
/// without these are written exactly as given.  With `words`, an incoming_message element
/// holds them joined by single blanks.
void print_error(std::FILE* stream, std::string_view code, std::string_view text,
                 std::string_view detail, const Words* words);

/// Looks code and text up by `number` and writes the document to stderr.
void show_error_detail_data(int number, std::string_view detail, const Words* words);
void show_error_detail(int number, std::string_view detail);
/// As show_error_detail with the number's standard detail.
void show_error(int number);

/// Writes "ERROR  <text>\n" to standard error.
void show_error_text(std::string_view text);

/// Records `code` unless a worse one is recorded already.
void set_exit_code(int code);
int get_exit_code();
/// Forgets every code recorded (for tests that run many cases in one process).
void reset_exit_code();

}  // namespace zv
