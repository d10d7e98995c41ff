// The self-checking fuzz entries, one per input surface of the program.
// Each takes arbitrary bytes, drives one module through its public
// interface, and aborts the process when the module's answer is wrong, not
// only when it crashes: a fuzzing driver then keeps the input.  Each returns
// 0 and only reads the bytes; none leaves a gate block, a file or a changed
// exit code behind.  fuzz_entry.cc turns one of them into a libFuzzer target
// named after it (xml_parser_fuzz_one is the target xml_parser).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

/// Parses the bytes whole, one byte at a time, and in pieces whose sizes are
/// drawn from the bytes themselves: the documents (names, data, attributes,
/// in order) must be the same, every record must refer to bytes the parser
/// holds, and parser_clear must release every block.
int xml_parser_fuzz_one(const std::uint8_t* data, std::size_t size);

/// Reads the bytes through the line reader twice, with file_read_line from a
/// regular file (in blocks of a few bytes when the input is small) and with
/// read_file from a pipe: each line, result, offset after a line and the end
/// of the input must be what a plain splitter written from the reader's
/// contract finds.
int line_reader_fuzz_one(const std::uint8_t* data, std::size_t size);

/// The first byte chooses where the transaction id comes from; the rest, up
/// to a NUL, is a data-map line.  Its words must be those of a reference
/// splitter, and the submission they make, logged to the recovery log, must
/// read back as the same transaction id and items.
int map_data_fuzz_one(const std::uint8_t* data, std::size_t size);

/// The first byte chooses the run's settings (announced length, status
/// query, response client); the rest is one reply of the agent, cut into its
/// header and body where its first empty line ends.  The reply handler must
/// write the same output and errors and end with the same status and exit
/// code whether the body comes whole, in random pieces or byte by byte; it
/// must write the body exactly or nothing, judge the status line as the
/// program's number rule reads it, and write nothing of a cut reply.
int reply_fuzz_one(const std::uint8_t* data, std::size_t size);

/// The first byte sets how many command-line words #N references may reach;
/// the rest are the lines of a mapping file.  The document built from them
/// must be the one a reference builder written from the mapping-file rules
/// makes.
int transaction_fuzz_one(const std::uint8_t* data, std::size_t size);

/// Form encoding of the bytes, and of the name/value pairs they hold
/// between NUL bytes, and XML escaping of the bytes, against plain
/// references; the measured lengths must match what is written.
int encode_fuzz_one(const std::uint8_t* data, std::size_t size);

/// The first byte chooses a message or a data-map submission (transaction id
/// and items between NUL bytes); its recovery-log record must be one line
/// that reads back as the same submission.  Independently, the bytes up to
/// the first line end read as a log line must be classified as a reference
/// classifier does, and a marked line must decode to a payload that encodes
/// back to it.
int log_record_fuzz_one(const std::uint8_t* data, std::size_t size);

/// The first byte chooses the path suffix, the configured port and whether
/// a URI is given; the rest, up to a NUL, is the URI.  The endpoint, or the
/// refusal of an invalid port with its error document, must be what a
/// reference reading of the URI gives.
int uri_fuzz_one(const std::uint8_t* data, std::size_t size);

}  // namespace zv
