// The fuzz entries on their checked-in seeds, in every build of the test
// suite: a seed that a change makes fail shows here without a fuzzer.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "fuzz_targets.h"

namespace zv {
namespace {

struct Target {
  const char* name;
  int (*entry)(const std::uint8_t*, std::size_t);
};

constexpr Target kTargets[] = {
    {"xml_parser", xml_parser_fuzz_one},   {"line_reader", line_reader_fuzz_one},
    {"map_data", map_data_fuzz_one},       {"reply", reply_fuzz_one},
    {"transaction", transaction_fuzz_one}, {"encode", encode_fuzz_one},
    {"log_record", log_record_fuzz_one},   {"uri", uri_fuzz_one},
};

const std::filesystem::path kCorpus = ZV_FUZZ_CORPUS_DIR;

TEST(FuzzCorpus, EverySeedPassesItsCheck) {
  for (const Target& target : kTargets) {
    std::size_t seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus / target.name)) {
      SCOPED_TRACE(entry.path().string());
      std::ifstream in(entry.path(), std::ios::binary);
      std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      EXPECT_EQ(target.entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), 0);
      ++seeds;
    }
    EXPECT_GE(seeds, 3u) << target.name;
  }
}

}  // namespace
}  // namespace zv
