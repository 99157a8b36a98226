#include "support/os_random.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
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

// The device path, as where getrandom is missing. Each test restores the
// kernel source when it ends.
class OsRandomDevice : public ::testing::Test {
 protected:
  void TearDown() override { testing::use_device(nullptr, nullptr); }

  // regular_file returns the path of a new file of 64 bytes 'A'.
  std::string regular_file() {
    char path[] = "/tmp/tarnwick-random-XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    const std::string a(64, 'A');
    EXPECT_EQ(::write(fd, a.data(), a.size()), static_cast<ssize_t>(a.size()));
    ::close(fd);
    files_.push_back(path);
    return path;
  }
  ~OsRandomDevice() override {
    for (const std::string& f : files_) ::unlink(f.c_str());
  }

 private:
  std::vector<std::string> files_;
};

const std::vector<std::uint8_t> kAllA(64, 'A');

TEST_F(OsRandomDevice, ReadsTheCharacterDevice) {
  testing::use_device("/dev/random", "/dev/urandom");
  std::vector<std::uint8_t> a(64), b(64);
  ASSERT_TRUE(fill(a).has_value());
  const int fd = testing::device_descriptor();
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(fill(b).has_value());
  EXPECT_EQ(testing::device_descriptor(), fd);  // opened once
  EXPECT_NE(a, b);
}

TEST_F(OsRandomDevice, RefusesAFileThatIsNotACharacterDevice) {
  const std::string file = regular_file();
  testing::use_device("/dev/random", file.c_str());
  std::vector<std::uint8_t> buf(64, 0);
  auto r = fill(buf);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().code(), static_cast<std::uint32_t>(ENODEV));
  EXPECT_EQ(r.error().display(), std::string(std::strerror(ENODEV)) + " (os error 19)");
  EXPECT_EQ(testing::device_descriptor(), -1);
  EXPECT_NE(buf, kAllA);
  // A directory is no device either; a failed open leaves nothing cached.
  testing::use_device("/dev/random", "/tmp");
  EXPECT_EQ(fill(buf).error().code(), static_cast<std::uint32_t>(ENODEV));
  testing::use_device("/dev/random", "/nonexistent/urandom");
  EXPECT_EQ(fill(buf).error().code(), static_cast<std::uint32_t>(ENOENT));
  testing::use_device("/dev/random", "/dev/urandom");
  EXPECT_TRUE(fill(buf).has_value());
}

// The cached descriptor is closed behind the source's back and its number
// given to a regular file: the source must notice, leave that file alone
// and read the device through a new descriptor.
TEST_F(OsRandomDevice, NoticesItsDescriptorReusedForAnotherFile) {
  testing::use_device("/dev/random", "/dev/urandom");
  std::vector<std::uint8_t> buf(64, 0);
  ASSERT_TRUE(fill(buf).has_value());
  const int fd = testing::device_descriptor();
  ASSERT_GE(fd, 0);

  const int other = ::open(regular_file().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::dup2(other, fd), fd);  // closes the device descriptor
  ::close(other);

  ASSERT_TRUE(fill(buf).has_value());
  EXPECT_NE(buf, kAllA);
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 0);  // nothing was read from the file
  const int fresh = testing::device_descriptor();
  EXPECT_NE(fresh, fd);
  struct stat st;
  ASSERT_EQ(::fstat(fresh, &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  ::close(fd);  // the test's file, never the source's

  // Closed and not reused: the source opens the device again.
  ::close(fresh);
  ASSERT_TRUE(fill(buf).has_value());
  EXPECT_GE(testing::device_descriptor(), 0);
}

}  // namespace
}  // namespace tarnwick::os_random
