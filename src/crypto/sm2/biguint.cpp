#include "crypto/sm2/biguint.h"

#include <new>

namespace tarnwick::sm2::biguint {
namespace {

template <class P>
P checked(BIGNUM* bn) {
  if (bn == nullptr) {
    ERR_clear_error();
    throw std::bad_alloc();
  }
  return P(bn);
}

}  // namespace

ossl::BnPtr from_bytes(ByteView be) {
  return checked<ossl::BnPtr>(BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr));
}

ossl::SecretBnPtr secret_from_bytes(ByteView be) {
  return checked<ossl::SecretBnPtr>(BN_bin2bn(be.data(), static_cast<int>(be.size()), nullptr));
}

ossl::BnPtr from_hex(const char* hex) {
  BIGNUM* bn = nullptr;
  if (BN_hex2bn(&bn, hex) == 0) {
    BN_free(bn);
    bn = nullptr;
  }
  return checked<ossl::BnPtr>(bn);
}

ossl::BnPtr from_word(std::uint64_t v) {
  ossl::BnPtr bn = checked<ossl::BnPtr>(BN_new());
  if (BN_set_word(bn.get(), v) != 1) {
    ERR_clear_error();
    throw std::bad_alloc();
  }
  return bn;
}

ossl::BnPtr copy(const BIGNUM& x) { return checked<ossl::BnPtr>(BN_dup(&x)); }

ossl::SecretBnPtr secret_copy(const BIGNUM& x) { return checked<ossl::SecretBnPtr>(BN_dup(&x)); }

Bytes to_minimal_bytes(const BIGNUM& x) {
  const int n = BN_num_bytes(&x);
  if (n == 0) return Bytes{0x00};
  Bytes out(static_cast<std::size_t>(n));
  BN_bn2bin(&x, out.data());
  return out;
}

std::optional<std::array<std::uint8_t, 32>> to_bytes32(const BIGNUM& x) {
  if (BN_is_negative(&x) || BN_num_bytes(&x) > 32) return std::nullopt;
  std::array<std::uint8_t, 32> out{};
  if (BN_bn2binpad(&x, out.data(), 32) != 32) {
    ERR_clear_error();
    return std::nullopt;
  }
  return out;
}

ossl::SecretBnPtr new_secret() {
  BIGNUM* bn = BN_secure_new();
  if (bn == nullptr) {
    ERR_clear_error();
    throw std::bad_alloc();
  }
  return ossl::SecretBnPtr(bn);
}

ossl::BnCtxPtr new_ctx() {
  BN_CTX* ctx = BN_CTX_secure_new();
  if (ctx == nullptr) {
    ERR_clear_error();
    throw std::bad_alloc();
  }
  return ossl::BnCtxPtr(ctx);
}

void check(int rc) {
  if (rc != 1) {
    ERR_clear_error();
    throw std::bad_alloc();
  }
}

}  // namespace tarnwick::sm2::biguint
