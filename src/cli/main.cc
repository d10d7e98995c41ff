#include "cli/driver.h"

int main(int argc, char** argv) { return zv::main_program(argc, argv); }
