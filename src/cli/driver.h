// The program's start, one operation, and its tear-down.
#pragma once

namespace zv {

/// Runs the program for the command line and returns the exit status.
int main_program(int argc, char** argv);

}  // namespace zv
