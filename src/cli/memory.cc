#include "cli/memory.h"

#include <cstdlib>
#include <cstring>

#include "cli/error.h"

namespace zv {

std::size_t memory_allocated = 0;

namespace {

// The length word sits in front of the caller's bytes.  It takes a whole
// max_align_t so that the caller's part keeps the allocator's alignment.
constexpr std::size_t kHeader = alignof(std::max_align_t);
static_assert(kHeader >= sizeof(std::size_t));

long fail_countdown = -1;

// A call through a volatile pointer cannot be proven dead, so the wipe of a
// block that is about to be freed stays in the program.
void* (*volatile wipe_memset)(void*, int, std::size_t) = std::memset;

}  // namespace

void memory_report_refusal() {
  show_error(kErrorMemory);
  set_exit_code(kExitMemory);
}

void* memory_open(std::size_t size) {
  bool refuse = size > SIZE_MAX - kHeader - 1;
  if (fail_countdown >= 0 && fail_countdown-- == 0) refuse = true;
  void* raw = refuse ? nullptr : std::malloc(kHeader + size + 1);
  if (raw == nullptr) {
    memory_report_refusal();
    return nullptr;
  }
  std::size_t length = size + 1;
  std::memcpy(raw, &length, sizeof length);
  memory_allocated += length;
  return static_cast<char*>(raw) + kHeader;
}

void memory_close(void* block) {
  if (block == nullptr) return;
  char* raw = static_cast<char*>(block) - kHeader;
  std::size_t length;
  std::memcpy(&length, raw, sizeof length);
  memory_wipe(block, length);
  memory_allocated -= length;
  std::free(raw);
}

void memory_wipe(void* block, std::size_t n) {
  if (block != nullptr && n > 0) wipe_memset(block, 0, n);
}

void memory_fail_after(long n) { fail_countdown = n; }

}  // namespace zv
