// Replies meant to exhaust the client: whatever the agent sends, the run
// ends, its memory stays bounded, and nothing partial is written.
#include <string>

#include <gtest/gtest.h>

#include "agent_fixture.h"

namespace zv::test {
namespace {

const std::string kTooLarge = "The reply of the agent is larger than the client accepts.";
const std::string kCut = "The reply of the agent ended before it was complete.";

TEST(HostileAgent, EndlessOrFalseRepliesStayBounded) {
  const struct {
    std::string script;
    int status;
    std::string err;
    long peak_limit_kib;
  } cases[] = {
      {"endless-header", 10, comm_failure(kTooLarge), 64 << 10},
      {"endless-body status=500", 50, comm_failure("Internal Server Error"), 64 << 10},
      {"length=67108864 body=\"<transaction><data><a>1</a></data></transaction>\"", 10,
       comm_failure(kCut), 64 << 10},
      // The largest body the client keeps, and not a byte more, also when
      // the reply announces a larger one.
      {"endless-body", 10, comm_failure(kTooLarge), 1 << 20},
      {"body-mib=300", 10, comm_failure(kTooLarge), 1 << 20},
  };
  for (const auto& c : cases) {
    ClientFixture fixture;
    StandInAgent agent(fixture.dir(), {"--reply", c.script});
    RunResult r = fixture.run({"--get-status"});
    EXPECT_EQ(r.status, c.status) << c.script;
    EXPECT_EQ(r.err, c.err) << c.script;
    EXPECT_EQ(r.out, "") << c.script;
    EXPECT_LT(r.peak_kib, c.peak_limit_kib) << c.script;
  }
}

}  // namespace
}  // namespace zv::test
