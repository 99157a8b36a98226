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

std::optional<std::array<std::uint8_t, 32>> to_bytes32(const BIGNUM& x) {
  if (BN_is_negative(&x) || BN_num_bytes(&x) > 32) return std::nullopt;
  std::array<std::uint8_t, 32> out{};
  if (BN_bn2binpad(&x, out.data(), 32) != 32) {
    ERR_clear_error();
    return std::nullopt;
  }
  return out;
}

ossl::BnPtr new_value() { return checked<ossl::BnPtr>(BN_new()); }

ossl::BnCtxPtr new_ctx() {
  BN_CTX* ctx = BN_CTX_new();
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
