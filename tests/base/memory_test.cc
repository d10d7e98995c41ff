#include "base/memory.h"

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/error.h"

namespace zv {
namespace {

// A refused block is reported (OUT_OF_MEMORY, exit code 30) and does not
// stop later requests; an impossible size is refused the same way.
TEST(Memory, RefusalReportsAndRecordsThirty) {
  const std::size_t before = memory_allocated;
  reset_exit_code();
  testing::internal::CaptureStderr();
  memory_fail_after(1);
  void* first = memory_open(3);
  void* refused = memory_open(8);
  void* after = memory_open(8);
  void* impossible = memory_open(SIZE_MAX);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(first != nullptr && after != nullptr);
  EXPECT_TRUE(refused == nullptr && impossible == nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % alignof(std::max_align_t), 0u);
  EXPECT_EQ(get_exit_code(), kExitMemory);
  EXPECT_NE(err.find("<errorcode>OUT_OF_MEMORY</errorcode>"), std::string::npos);
  memory_close(first);
  memory_close(after);
  memory_close(nullptr);
  EXPECT_EQ(memory_allocated, before);
  reset_exit_code();
}

// Every block is wiped whole before it goes back, small and large alike:
// the heap or the system must never get message bytes back.
std::vector<std::pair<const void*, std::size_t>> wipes;

TEST(Memory, EveryBlockIsWipedWholeOnRelease) {
  memory_set_wipe([](void* block, int value, std::size_t n) {
    wipes.push_back({block, n});
    return std::memset(block, value, n);
  });
  for (std::size_t size : {std::size_t{0}, std::size_t{15}, std::size_t{3} << 20}) {
    wipes.clear();
    void* block = memory_open(size);
    memory_close(block);
    EXPECT_EQ(wipes, (decltype(wipes){{block, size + 1}})) << size;
  }
  memory_set_wipe(nullptr);
}

// A text of any length, made or grown in any way, keeps its bytes in a
// gate block, never in the object's own short-text buffer: the bytes are
// wiped when the text goes.
TEST(Memory, ShortTextsLiveInWipedBlocks) {
  const Text source("abc");
  const std::pair<const char*, std::function<void(Text&)>> ways[] = {
      {"made", [](Text& t) { t = Text("hi"); }},
      {"made from a view", [](Text& t) { t = Text(std::string_view("secret", 3)); }},
      {"copied", [&](Text& t) { t = Text(source); }},
      {"assigned", [](Text& t) { t.assign("ab"); }},
      {"appended", [](Text& t) { t.append("ab"); }},
      {"added to", [](Text& t) { t += "ab"; }},
      {"pushed", [](Text& t) { t.push_back('x'); }},
      {"resized", [](Text& t) { t.resize(3, 'z'); }},
  };
  for (const auto& [how, way] : ways) {
    const std::size_t before = memory_allocated;
    {
      Text text;
      way(text);
      EXPECT_GE(memory_allocated, before + text.size() + 1) << how;
      EXPECT_GE(text.capacity(), 16u) << how;
    }
    EXPECT_EQ(memory_allocated, before) << how;
  }
}

}  // namespace
}  // namespace zv
