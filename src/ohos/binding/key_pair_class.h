// The JS class KeyPair: instances only native code can make, each wrapping
// one native record, with pubkey and privkey accessors on the prototype.
#pragma once

#include <node_api.h>

#include "ohos/asym/key_pair.h"
#include "ohos/binding/error.h"

namespace tarnwick::binding {

// default_class_constructor throws "Class contains no `constructor`, can not
// new it!" unless native code is creating an instance on this thread.
napi_value default_class_constructor(napi_env env, napi_callback_info info);

namespace key_pair {

// to_napi_value moves `record` into a new KeyPair instance.
BResult<napi_value> to_napi_value(napi_env env, ohos::asym::KeyPair record);

// register_class enters KeyPair with its two accessors in the class registry.
void register_class();

}  // namespace key_pair
}  // namespace tarnwick::binding
