// The SM4 key schedule as the native tests take it: expanded at once, a
// failed expansion being a failure of the test.
#pragma once

#include <gtest/gtest.h>

#include "crypto/sm4/cipher.h"
#include "support/bytes.h"

namespace tarnwick::testing {

// schedule_of expands `key`. If `key` does not expand, the test fails and
// the result is an all-zero schedule.
inline sm4::Sm4KeySchedule schedule_of(ByteView key) {
  auto s = sm4::cipher::key_schedule(key);
  EXPECT_TRUE(s.has_value()) << "key of " << key.size() << " bytes";
  return s ? *s : sm4::Sm4KeySchedule{};
}

}  // namespace tarnwick::testing
