#include "base/memory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

#include "base/error.h"

namespace zv {

std::size_t memory_allocated = 0;

namespace {

// The length word sits in front of the caller's bytes.  It takes a whole
// max_align_t so that the caller's part keeps the allocator's alignment.
constexpr std::size_t kHeader = alignof(std::max_align_t);
static_assert(kHeader >= sizeof(std::size_t));

constexpr std::size_t kHugeBlock = std::size_t{4} << 20;

// GCC names AddressSanitizer with a macro, clang only through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
#define ZV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZV_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(ZV_ADDRESS_SANITIZER)
// Under AddressSanitizer every block stays on its heap, where overruns of
// large buffers are caught too.
bool is_mapped(std::size_t) { return false; }
#else
// Blocks this large come straight from the system and go straight back to
// it, so that a growing text (a reply, a long line) leaves no copies of its
// bytes in the heap.  They are wiped all the same before they go.
constexpr std::size_t kMappedBlock = std::size_t{1} << 20;

bool is_mapped(std::size_t total) { return total >= kMappedBlock; }
#endif

void* obtain(std::size_t total) {
  if (!is_mapped(total)) return std::malloc(total);
  void* raw = ::mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
  // Large pages where the system offers them: a many-megabyte text then
  // costs a few page faults instead of one per 4 KiB.
  if (total >= kHugeBlock) ::madvise(raw, total, MADV_HUGEPAGE);
#endif
  return raw;
}

long fail_countdown = -1;

// A call through a volatile pointer cannot be proven dead, so the wipe of a
// block that is about to be freed stays in the program.
WipeFunction volatile wipe_memset = std::memset;

}  // namespace

void memory_report_refusal() {
  show_error(kErrorMemory);
  set_exit_code(kExitMemory);
}

void* memory_try_open(std::size_t size) {
  bool refuse = size > SIZE_MAX - kHeader - 1;
  if (fail_countdown >= 0 && fail_countdown-- == 0) refuse = true;
  void* raw = refuse ? nullptr : obtain(kHeader + size + 1);
  if (raw == nullptr) return nullptr;
  std::size_t length = size + 1;
  std::memcpy(raw, &length, sizeof length);
  memory_allocated += length;
  return static_cast<char*>(raw) + kHeader;
}

void* memory_open(std::size_t size) {
  void* block = memory_try_open(size);
  if (block == nullptr) memory_report_refusal();
  return block;
}

void memory_close(void* block) {
  if (block == nullptr) return;
  char* raw = static_cast<char*>(block) - kHeader;
  std::size_t length;
  std::memcpy(&length, raw, sizeof length);
  memory_wipe(block, length);
  memory_allocated -= length;
  if (is_mapped(kHeader + length)) {
    ::munmap(raw, kHeader + length);
  } else {
    std::free(raw);
  }
}

void memory_wipe(void* block, std::size_t n) {
  if (block != nullptr && n > 0) wipe_memset(block, 0, n);
}

void memory_fail_after(long n) { fail_countdown = n; }

void memory_set_wipe(WipeFunction wipe) { wipe_memset = wipe != nullptr ? wipe : std::memset; }

}  // namespace zv
