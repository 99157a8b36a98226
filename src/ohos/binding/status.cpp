#include "ohos/binding/status.h"

#include <iterator>

namespace tarnwick::binding {

std::string_view status_name(int status) noexcept {
  static constexpr std::string_view kNames[] = {
      "Ok",
      "InvalidArg",
      "ObjectExpected",
      "StringExpected",
      "NameExpected",
      "FunctionExpected",
      "NumberExpected",
      "BooleanExpected",
      "ArrayExpected",
      "GenericFailure",
      "PendingException",
      "Cancelled",
      "EscapeCalledTwice",
      "HandleScopeMismatch",
      "CallbackScopeMismatch",
      "QueueFull",
      "Closing",
      "BigintExpected",
      "DateExpected",
      "ArrayBufferExpected",
      "DetachableArraybufferExpected",
      "WouldDeadlock",
      "NoExternalBuffersAllowed",
  };
  if (status < 0 || status >= static_cast<int>(std::size(kNames))) return "Unknown";
  return kNames[status];
}

}  // namespace tarnwick::binding
