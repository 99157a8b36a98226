// Owning handles for OpenSSL objects, one alias per handle type.
#pragma once

#include <memory>

#include <openssl/bn.h>
#include <openssl/core.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/params.h>

namespace tarnwick::ossl {

template <auto Free>
struct FreeWith {
  template <class T>
  void operator()(T* p) const noexcept {
    Free(p);
  }
};

using BnPtr = std::unique_ptr<BIGNUM, FreeWith<BN_free>>;
// SecretBnPtr wipes the value before freeing it.
using SecretBnPtr = std::unique_ptr<BIGNUM, FreeWith<BN_clear_free>>;
using BnCtxPtr = std::unique_ptr<BN_CTX, FreeWith<BN_CTX_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, FreeWith<EVP_PKEY_CTX_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, FreeWith<EVP_CIPHER_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;
using ParamBldPtr = std::unique_ptr<OSSL_PARAM_BLD, FreeWith<OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, FreeWith<OSSL_PARAM_free>>;
using EcGroupPtr = std::unique_ptr<EC_GROUP, FreeWith<EC_GROUP_free>>;
using EcPointPtr = std::unique_ptr<EC_POINT, FreeWith<EC_POINT_free>>;

// ErrorQueueGuard clears OpenSSL's thread-local error queue when it goes out
// of scope, so no failure of ours leaves entries behind for a later caller.
class ErrorQueueGuard {
 public:
  ErrorQueueGuard() = default;
  ErrorQueueGuard(const ErrorQueueGuard&) = delete;
  ErrorQueueGuard& operator=(const ErrorQueueGuard&) = delete;
  ~ErrorQueueGuard() { ERR_clear_error(); }
};

}  // namespace tarnwick::ossl
