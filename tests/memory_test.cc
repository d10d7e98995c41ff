#include "cli/memory.h"

#include <gtest/gtest.h>

#include "cli/error.h"

namespace zv {
namespace {

// A refused block is reported (OUT_OF_MEMORY, exit code 30) and does not
// stop later requests; an impossible size is refused the same way.
TEST(Memory, RefusalReportsAndRecordsThirty) {
  const std::size_t before = memory_allocated;
  set_exit_code(0);
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
  set_exit_code(0);
}

}  // namespace
}  // namespace zv
