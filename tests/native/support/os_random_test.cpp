#include "support/os_random.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tarnwick::os_random {
namespace {

// A scripted backend: each step is one read's result, errno and the number
// of bytes it writes (for positive results).
struct Step {
  long result;
  int err;
};
struct Script {
  std::vector<Step> steps;
  std::size_t next = 0;
  std::vector<std::size_t> asked;
};

long scripted_read(void* ctx, std::uint8_t* buf, std::size_t len, int* err) {
  auto* s = static_cast<Script*>(ctx);
  s->asked.push_back(len);
  if (s->next >= s->steps.size()) return 0;
  const Step step = s->steps[s->next++];
  if (step.result > 0) std::memset(buf, 0xAB, std::min<std::size_t>(len, step.result));
  *err = step.err;
  return step.result;
}

TEST(OsRandomFillLoop, CompletesShortReadsAndRepeatsOnEintr) {
  Script s{{{-1, EINTR}, {5, 0}, {-1, EINTR}, {11, 0}}, 0, {}};
  std::vector<std::uint8_t> buf(16, 0);
  ASSERT_TRUE(fill_loop(buf, scripted_read, &s).has_value());
  EXPECT_EQ(s.asked, (std::vector<std::size_t>{16, 16, 11, 11}));
  EXPECT_EQ(buf, std::vector<std::uint8_t>(16, 0xAB));
}

TEST(OsRandomFillLoop, FailuresCarryTheirCodes) {
  struct Case {
    const char* name;
    Step step;
    std::uint32_t code;
  };
  const Case cases[] = {
      {"errno_passed_on", {-1, EIO}, EIO},
      {"errno_zero", {-1, 0}, OsError::kErrnoNotPositive},
      {"errno_negative", {-1, -7}, OsError::kErrnoNotPositive},
      {"zero_result", {0, 0}, OsError::kUnexpected},
      {"too_large", {17, 0}, OsError::kUnexpected},
      {"other_negative", {-2, EIO}, OsError::kUnexpected},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Script s{{c.step}, 0, {}};
    std::vector<std::uint8_t> buf(16);
    auto r = fill_loop(buf, scripted_read, &s);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().code(), c.code);
  }
}

TEST(OsError, DisplayTexts) {
  EXPECT_EQ(OsError(EIO).display(), std::string(std::strerror(EIO)) + " (os error 5)");
  EXPECT_EQ(OsError(OsError::kUnsupported).display(), "getrandom: this target is not supported");
  EXPECT_EQ(OsError(OsError::kErrnoNotPositive).display(), "errno: did not return a positive value");
  EXPECT_EQ(OsError(OsError::kUnexpected).display(), "unexpected situation");
  EXPECT_EQ(OsError(0x80000003u).display(), "Unknown Error: 2147483651");
  EXPECT_EQ(OsError(0xFFFFFFFFu).display(), "Unknown Error: 4294967295");
}

TEST(OsRandom, FillsFromTheKernelAndHonoursTheTestSource) {
  std::vector<std::uint8_t> a(64), b(64);
  ASSERT_TRUE(fill(a).has_value());
  ASSERT_TRUE(fill(b).has_value());
  EXPECT_NE(a, b);

  Script s{{{-1, EACCES}}, 0, {}};
  testing::set_source(scripted_read, &s);
  auto r = fill(a);
  testing::set_source(nullptr, nullptr);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().code(), static_cast<std::uint32_t>(EACCES));
  EXPECT_TRUE(fill(a).has_value());
}

}  // namespace
}  // namespace tarnwick::os_random
