// Whether a text can still become a JS string, asked before it is made.
#pragma once

#include <node_api.h>

#include <cstddef>

#include "ohos/binding/error.h"

namespace tarnwick::binding {

// text_fits tells whether a one-byte text of `length` characters (ASCII, so
// as many UTF-8 bytes) can be made into a JS string in `env`. When it cannot,
// the error is the one text_to_js reports for it: Node-API refuses a length
// above INT_MAX with InvalidArg, and the engine one above its longest string
// with GenericFailure, both as "Failed to convert rust `String` into napi
// `string`". The engine's limit is asked of the engine itself.
BResult<void> text_fits(napi_env env, std::size_t length);

}  // namespace tarnwick::binding
