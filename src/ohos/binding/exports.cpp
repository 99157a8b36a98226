// The module's whole JS surface, in registry order. Each line is one
// load-time constructor: the class, an enum, a function, or the module
// record itself.
#include "ohos/binding/function.h"
#include "ohos/binding/registry.h"
#include "ohos/binding/text_limit.h"
#include "ohos/asym/algorithms.h"
#include "ohos/asym/encrypt.h"
#include "ohos/asym/keygen.h"
#include "ohos/asym/sign.h"
#include "support/base64.h"
#include "vorel/random/random.h"
#include "vorel/sym/encrypt.h"

namespace tarnwick::binding {

using ohos::asym::AsymAlgorithm;
using ohos::asym::SignAlgorithm;
using vorel::sym::SymAlgorithm;

template <>
struct EnumTraits<SymAlgorithm> {
  static constexpr const char* kName = "SymAlgorithm";
  static constexpr const char* kVariants[] = {"AES128ECB", "AES128CBC", "AES128OFB", "AES128CFB", "AES256ECB",
                                              "AES256CBC", "AES256OFB", "AES256CFB", "SM4ECB",    "SM4CBC",
                                              "SM4OFB",    "SM4CFB",    "SM4GCM"};
};

template <>
struct EnumTraits<AsymAlgorithm> {
  static constexpr const char* kName = "AsymAlgorithm";
  static constexpr const char* kVariants[] = {"RSA", "SM2"};
};
template <>
struct EnumTraits<SignAlgorithm> {
  static constexpr const char* kName = "SignAlgorithm";
  static constexpr const char* kVariants[] = {"SHA1WithRSA", "SHA256WithRSA", "SM3", "SM3WithSM2"};
};

namespace {

#define TARNWICK_EXPORT_FUNCTION(prio, js_name, ns, native)                                            \
  BResult<napi_value> create_##native(napi_env env) {                                                  \
    return create_function(env, js_name, JsFunction<&ns::native>::entry, #native);                    \
  }                                                                                                    \
  __attribute__((constructor(prio))) void register_##native() { register_export(js_name, create_##native); }

// As TARNWICK_EXPORT_FUNCTION, with a check of the converted arguments
// before the service runs (JsFunction's Precheck).
#define TARNWICK_EXPORT_CHECKED_FUNCTION(prio, js_name, ns, native, precheck)                         \
  BResult<napi_value> create_##native(napi_env env) {                                                  \
    return create_function(env, js_name, JsFunction<&ns::native, &precheck>::entry, #native);         \
  }                                                                                                    \
  __attribute__((constructor(prio))) void register_##native() { register_export(js_name, create_##native); }

// randomGenerate's Base64 text must become a JS string: a length whose text
// cannot is refused before a byte is drawn, with the error that making the
// string gives. Lengths of 0 or below are the service's to refuse.
BResult<void> random_text_fits(napi_env env, const std::int32_t& length) {
  if (length <= 0) return {};
  return text_fits(env, base64::encoded_length(static_cast<std::size_t>(length)));
}

#define TARNWICK_EXPORT_ENUM(prio, Enum)                                                           \
  __attribute__((constructor(prio))) void register_##Enum() { register_export(#Enum, create_enum<Enum>); }

// In registry order; the priorities make the loader keep it.
__attribute__((constructor(priority::kKeyPairClass))) void register_key_pair_class() { key_pair::register_class(); }
TARNWICK_EXPORT_ENUM(priority::kSymAlgorithm, SymAlgorithm)
TARNWICK_EXPORT_FUNCTION(priority::kSymGenerateKey, "symGenerateKey", vorel::sym, sym_generate_key)
TARNWICK_EXPORT_FUNCTION(priority::kSymEncrypt, "symEncrypt", vorel::sym, sym_encrypt)
TARNWICK_EXPORT_FUNCTION(priority::kSymDecrypt, "symDecrypt", vorel::sym, sym_decrypt)
__attribute__((constructor(priority::kModule))) void register_module_record() { register_module(); }
TARNWICK_EXPORT_ENUM(priority::kAsymAlgorithm, AsymAlgorithm)
TARNWICK_EXPORT_ENUM(priority::kSignAlgorithm, SignAlgorithm)
TARNWICK_EXPORT_FUNCTION(priority::kAsymGenerateKey, "asymGenerateKey", ohos::asym, asym_generate_key)
TARNWICK_EXPORT_FUNCTION(priority::kAsymGenerateKeyTest, "asymGenerateKeyTest", ohos::asym, asym_generate_key_test)
TARNWICK_EXPORT_FUNCTION(priority::kAsymEncrypt, "asymEncrypt", ohos::asym, asym_encrypt)
TARNWICK_EXPORT_FUNCTION(priority::kAsymDecrypt, "asymDecrypt", ohos::asym, asym_decrypt)
TARNWICK_EXPORT_FUNCTION(priority::kAsymSign, "asymSign", ohos::asym, asym_sign)
TARNWICK_EXPORT_FUNCTION(priority::kAsymVerify, "asymVerify", ohos::asym, asym_verify)
TARNWICK_EXPORT_CHECKED_FUNCTION(priority::kRandomGenerate, "randomGenerate", vorel::random, random_generate,
                                 random_text_fits)

}  // namespace
}  // namespace tarnwick::binding
