#include "base/stop.h"

#include <csignal>

namespace zv {

namespace {

volatile std::sig_atomic_t requested_signal = 0;

}  // namespace

void stop_request(int signal) { requested_signal = signal; }

bool stop_requested() { return requested_signal != 0; }

int stop_signal() { return requested_signal; }

}  // namespace zv
