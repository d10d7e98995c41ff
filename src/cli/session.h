// What every operation of a run works on: the parsed command line, which
// no operation changes, and the state of the run.
#pragma once

#include <cstdint>

#include "cli/arguments.h"
#include "xml/xml_document.h"

namespace zv {

class Output;

struct Session {
  const Arguments& arguments;
  /// Holds the reply of the current exchange; emptied after every exchange.
  Parser& xml_parser;
  /// Where replies are written; set by the driver while an operation runs.
  Output* output = nullptr;
  /// Replies the reply handler has written and counted.
  std::int32_t response_count = 0;
};

}  // namespace zv
