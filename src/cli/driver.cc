#include "cli/driver.h"

#include "cli/error.h"

namespace zv {

int main_program(int, char**) { return get_exit_code(); }

}  // namespace zv
