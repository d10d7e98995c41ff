// The memory gate: every heap block of the program is obtained here.
//
// The gate keeps a running byte count of live blocks (`memory_allocated`),
// wipes every block before it is released, and turns an exhausted heap into
// the program's standard failure report: the out-of-memory error document on
// standard error and exit code 30.  C++ containers reach the gate through the
// `Gate` allocator; `Text` and `Vec` are the program's text and buffer types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

namespace zv {

/// Bytes handed out and not yet released: each block counts its size + 1.
extern std::size_t memory_allocated;

/// Returns a block with size + 1 usable bytes (so a text of size characters
/// always has room for its NUL), aligned for any type.  The bytes are not
/// cleared.  Returns nullptr when the heap refuses; the out-of-memory
/// document has then been written and exit code 30 recorded.
void* memory_open(std::size_t size);

/// Wipes and releases a block of memory_open.  nullptr is a no-op.
void memory_close(void* block);

/// Overwrites n bytes with zeros in a way the compiler may not elide.
void memory_wipe(void* block, std::size_t n);

/// The function every wipe goes through; memset unless a test put its own
/// (which must still clear the bytes) to see what is wiped.  nullptr
/// restores memset.
using WipeFunction = void* (*)(void*, int, std::size_t);
void memory_set_wipe(WipeFunction wipe);

/// Test seam: the memory_open call `n` calls from now (0 = the next one)
/// refuses as an exhausted heap would.  A negative n disarms it.
void memory_fail_after(long n);

/// Thrown by the Gate allocator after memory_open has reported a refusal.
/// It unwinds to the task that asked for the memory, which gives that task up.
struct memory_exhausted : std::bad_alloc {
  const char* what() const noexcept override { return "memory exhausted"; }
};

/// Standard allocator over the gate.  A refusal throws memory_exhausted.
template <class T>
struct Gate {
  using value_type = T;
  Gate() noexcept = default;
  template <class U>
  Gate(const Gate<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw_refused();
    void* block = memory_open(n * sizeof(T));
    if (block == nullptr) throw memory_exhausted();
    return static_cast<T*>(block);
  }
  void deallocate(T* block, std::size_t) noexcept { memory_close(block); }

  template <class U>
  bool operator==(const Gate<U>&) const noexcept { return true; }

 private:
  [[noreturn]] static void throw_refused();
};

/// A request no heap can satisfy is reported like an exhausted heap.
void memory_report_refusal();

template <class T>
void Gate<T>::throw_refused() {
  memory_report_refusal();
  throw memory_exhausted();
}

/// Owned text; its heap block goes through the gate and is wiped on release.
using Text = std::basic_string<char, std::char_traits<char>, Gate<char>>;

/// Owned sequence; its heap block goes through the gate and is wiped on release.
template <class T>
using Vec = std::vector<T, Gate<T>>;

}  // namespace zv
