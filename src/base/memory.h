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
#include <string_view>
#include <utility>
#include <vector>

namespace zv {

/// Bytes handed out and not yet released: each block counts its size + 1.
extern std::size_t memory_allocated;

/// Returns a block with size + 1 usable bytes (so a text of size characters
/// always has room for its NUL), aligned for any type.  The bytes are not
/// cleared.  Returns nullptr when the heap refuses; the out-of-memory
/// document has then been written and exit code 30 recorded.
void* memory_open(std::size_t size);

/// As memory_open, but a refusal is not reported: for a caller that has a
/// smaller size to fall back on.
void* memory_try_open(std::size_t size);

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
  bool operator==(const Gate<U>&) const noexcept {
    return true;
  }

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

using TextBase = std::basic_string<char, std::char_traits<char>, Gate<char>>;

/// Owned text whose bytes always live in a gate block, so they are wiped
/// when the block goes.  A standard string keeps a short text inside the
/// object itself, where no release wipes it; this one makes its block
/// before the first byte is stored, so the object's own buffer never holds
/// a byte of text.  Every way of storing text is covered here; reading is
/// the standard string's.
class Text : public TextBase {
 public:
  Text() noexcept = default;
  Text(std::string_view text) { assign(text); }
  Text(const char* text) { assign(std::string_view(text)); }
  Text(const char* text, std::size_t n) { assign(std::string_view(text, n)); }
  Text(const TextBase& text) { assign(std::string_view(text)); }
  Text(const Text& other) : TextBase() { assign(std::string_view(other)); }
  /// Takes the block; the moved-from text holds nothing.
  Text(Text&& other) noexcept = default;
  Text& operator=(const Text& other) { return assign(std::string_view(other)); }
  Text& operator=(Text&& other) noexcept = default;
  Text& operator=(std::string_view text) { return assign(text); }
  Text& operator=(const char* text) { return assign(std::string_view(text)); }

  template <class... A>
  Text& assign(A&&... a) {
    make_block();
    TextBase::assign(std::forward<A>(a)...);
    return *this;
  }
  template <class... A>
  Text& append(A&&... a) {
    make_block();
    TextBase::append(std::forward<A>(a)...);
    return *this;
  }
  template <class A>
  Text& operator+=(A&& a) {
    make_block();
    TextBase::operator+=(std::forward<A>(a));
    return *this;
  }
  void push_back(char c) {
    make_block();
    TextBase::push_back(c);
  }
  void resize(std::size_t n, char c = '\0') {
    make_block();
    TextBase::resize(n, c);
  }
  void reserve(std::size_t n) { TextBase::reserve(n < kBlock ? kBlock : n); }
  template <class... A>
  Text& insert(A&&... a) {
    make_block();
    TextBase::insert(std::forward<A>(a)...);
    return *this;
  }

 private:
  // More than the object's own buffer holds, so capacity comes from a block.
  static constexpr std::size_t kBlock = 16;
  void make_block() {
    if (capacity() < kBlock) TextBase::reserve(kBlock);
  }
};

/// Owned sequence; its heap block goes through the gate and is wiped on release.
template <class T>
using Vec = std::vector<T, Gate<T>>;

}  // namespace zv
