#include "openssl_cli.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace tarnwick::testing {
namespace {

// The tests that write files for the openssl command get a private
// directory or stop: a directory that cannot be made must never leave the
// files to land somewhere else (such as "/").
TEST(TempDir, ADirectoryThatCannotBeMadeFailsWithTheReason) {
  const std::string parent = "/nonexistent-tarnwick-parent";
  try {
    TempDir dir(parent);
    ADD_FAILURE() << "made a directory whose files would be " << dir.file("k.der");
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "cannot make a temporary directory under " + parent + ": No such file or directory");
  }
}

TEST(TempDir, FilesLiveInAFreshDirectoryThatIsRemoved) {
  std::string path;
  {
    TempDir dir;
    path = dir.write("k.der", Bytes{1, 2, 3});
    ASSERT_EQ(path.rfind("/tmp/tarnwick-test-", 0), 0u) << path;
    EXPECT_EQ(dir.read("k.der"), (Bytes{1, 2, 3}));
  }
  EXPECT_NE(access(path.c_str(), F_OK), 0) << path << " is still there";
}

}  // namespace
}  // namespace tarnwick::testing
