// What every operation of a run works on: the parsed command line and the
// one XML parser into which each reply of the agent is read.
#pragma once

#include "cli/arguments.h"
#include "xml/xml_document.h"

namespace zv {

struct Session {
  Arguments& arguments;
  /// Holds the reply of the current exchange; emptied after every exchange.
  Parser& xml_parser;
};

}  // namespace zv
