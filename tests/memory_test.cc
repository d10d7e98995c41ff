#include "cli/memory.h"

#include <gtest/gtest.h>

#include "cli/error.h"

namespace zv {
namespace {

TEST(Memory, CountsSizePlusOneAndReturnsToZero) {
  std::size_t before = memory_allocated;
  void* block = memory_open(0);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(memory_allocated, before + 1);
  void* other = memory_open(100);
  EXPECT_EQ(memory_allocated, before + 102);
  memory_close(block);
  memory_close(other);
  memory_close(nullptr);
  EXPECT_EQ(memory_allocated, before);
}

TEST(Memory, BlocksAreAlignedForAnyType) {
  void* block = memory_open(3);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
  memory_close(block);
}

TEST(Memory, RefusalReportsAndRecordsThirty) {
  set_exit_code(0);
  testing::internal::CaptureStderr();
  memory_fail_after(1);
  void* first = memory_open(8);
  void* refused = memory_open(8);
  void* after = memory_open(8);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(refused, nullptr);
  EXPECT_NE(after, nullptr);
  EXPECT_EQ(get_exit_code(), kExitMemory);
  EXPECT_NE(err.find("<errorcode>OUT_OF_MEMORY</errorcode>"), std::string::npos);
  memory_close(first);
  memory_close(after);
  set_exit_code(0);
}

TEST(Memory, ContainersThrowAndReleaseEverything) {
  std::size_t before = memory_allocated;
  testing::internal::CaptureStderr();
  memory_fail_after(2);
  EXPECT_THROW(
      {
        Vec<Text> texts;
        for (int i = 0; i < 10; ++i) texts.emplace_back(100, 'x');
      },
      memory_exhausted);
  testing::internal::GetCapturedStderr();
  memory_fail_after(-1);
  EXPECT_EQ(memory_allocated, before);
  set_exit_code(0);
}

TEST(Memory, ImpossibleRequestIsRefused) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(memory_open(SIZE_MAX), nullptr);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(get_exit_code(), kExitMemory);
  set_exit_code(0);
}

}  // namespace
}  // namespace zv
