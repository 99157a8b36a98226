#include "ohos/binding/status.h"

#include <gtest/gtest.h>

#include <node_api_types.h>

namespace tarnwick::binding {
namespace {

// The names follow Node-API's published status numbering.
TEST(StatusName, NamesEveryPublishedStatus) {
  const std::pair<int, const char*> cases[] = {
      {napi_ok, "Ok"},
      {napi_invalid_arg, "InvalidArg"},
      {napi_object_expected, "ObjectExpected"},
      {napi_string_expected, "StringExpected"},
      {napi_name_expected, "NameExpected"},
      {napi_function_expected, "FunctionExpected"},
      {napi_number_expected, "NumberExpected"},
      {napi_boolean_expected, "BooleanExpected"},
      {napi_array_expected, "ArrayExpected"},
      {napi_generic_failure, "GenericFailure"},
      {napi_pending_exception, "PendingException"},
      {napi_cancelled, "Cancelled"},
      {napi_escape_called_twice, "EscapeCalledTwice"},
      {napi_handle_scope_mismatch, "HandleScopeMismatch"},
      {napi_callback_scope_mismatch, "CallbackScopeMismatch"},
      {napi_queue_full, "QueueFull"},
      {napi_closing, "Closing"},
      {napi_bigint_expected, "BigintExpected"},
      {napi_date_expected, "DateExpected"},
      {napi_arraybuffer_expected, "ArrayBufferExpected"},
      {napi_detachable_arraybuffer_expected, "DetachableArraybufferExpected"},
      {napi_would_deadlock, "WouldDeadlock"},
      {napi_no_external_buffers_allowed, "NoExternalBuffersAllowed"},
      {23, "Unknown"},
      {-1, "Unknown"},
      {1000, "Unknown"},
  };
  for (const auto& [status, name] : cases) EXPECT_EQ(status_name(status), name) << status;
}

}  // namespace
}  // namespace tarnwick::binding
