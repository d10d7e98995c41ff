#include <cstdio>
#include <string_view>

#include "base/version.h"
#include "cli/arguments.h"
#include "transport/endpoint.h"

namespace zv {

namespace {

// The help text in three pieces around the two places that name the default
// agent URI; those are written from kLoopbackHost so that the text cannot
// drift from the host the program really uses.
constexpr std::string_view kHelpHead =
    "ZVClient\n"
    "     [--recover-file <file>] ||\n"
    "     [--http-get <URI>] [--http-post <URI>] [--get-response || --get-status ||\n"
    "     --post-file <file> || [[--map-data-transaction-id <number>] --map-data\n"
    "     <client id> <data> [<data>]] || [--map-data-file <file>] ||\n"
    "     [--submit-file <file>] || [ZVXML or Classic Message]] || [[--help] ||\n"
    "     [--version]]\n"
    "\n"
    "General Options:\n"
    "\n"
    "--get-response <client id>\n"
    "     Retrieves a response message for <client id> from the Zelvane Agent,\n"
    "     writing it to standard output.\n"
    "--get-response-max <number>\n"
    "     Affects the maximum number of non-Agent Status messages that\n"
    "     --get-response will retrieve before exiting ZVClient.\n"
    "     The default is 1. Option must be used with --get-response.\n"
    "--get-status\n"
    "     Writes a status message from Zelvane Agent to standard output.\n"
    "--map-data-transaction-id <number>\n"
    "     Sets the message transaction id. Used only with --map-data.\n"
    "--map-data <client id> <data> [data...]\n"
    "     Submit data for use with the data map defined for <client id>.\n"
    "     WARNING: Must be the last command-line option; subsequent items are\n"
    "     considered data. This overrides the default message submission format of\n"
    "     either ZVXML or Classic.\n"
    "--map-data-file <file>\n"
    "     Submit data for use with the data map defined for <client id>. Same as\n"
    "     --submit-file where each line is a single message, but in this form:\n"
    "     <transaction id> <client id> <data> [data...]. This overrides the default\n"
    "     message submission format of either ZVXML or Classic.\n"
    "\n"
    "File Options:\n"
    "\n"
    "--post-file <file>\n"
    "     Redirect standard output to a file.\n"
    "--submit-file <file>\n"
    "     Submit all messages in a file to Zelvane Agent, with one message per\n"
    "     line. Each line must be in an appropriate format for the submission\n"
    "     definition (default is Classic/ZVXML).\n"
    "--recover-file <file>\n"
    "     ZVClient saves messages not sent to ZVAgent due to communication failures\n"
    "     in a file named ZVClient.log. Use this option to resubmit those messages\n"
    "     once ZVAgent is ready.\n"
    "\n"
    "HTTP Options:\n"
    "\n"
    "--http-get <URI>\n"
    "     Set the HTTP Get (message retrieval) URI to a custom URI (for custom\n"
    "     servlets). URI prefix: ";

constexpr std::string_view kHelpMiddle =
    ". Default servlet:\n"
    "     ZVXML/Classic Message Communications Servlet.\n"
    "--http-post <URI>\n"
    "     Set the HTTP Post (message submission) URI to a custom URI (for custom\n"
    "     servlets). URI prefix: ";

constexpr std::string_view kHelpTail =
    ". If used with\n"
    "     --submit-file, each line in the file is a message in the custom servlet\n"
    "     format. This overrides the default message submission format of either\n"
    "     ZVXML or Classic. Default servlet: ZVXML/Classic Message Communications\n"
    "     Servlet.\n"
    "\n"
    "Assistance Options:\n"
    "\n"
    "--help\n"
    "     Display usage information, then exit.\n"
    "--version\n"
    "     Display the version number, then exit.\n"
    "\n";

void put(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void put_loopback_prefix() {
  put("http://");
  put(kLoopbackHost);
  put(":<port>/");
}

}  // namespace

void show_help() {
  put(kHelpHead);
  put_loopback_prefix();
  put(kHelpMiddle);
  put_loopback_prefix();
  put(kHelpTail);
  std::fflush(stdout);
}

void show_version() {
  std::printf("%s %s %s\n", kProgramName, kProgramVersion, "(native)");
  put("Copyright (C) Zelvane Systems. All rights reserved.\n"
      "This program comes with no warranty, to the extent permitted by law.\n");
  std::fflush(stdout);
}

}  // namespace zv
