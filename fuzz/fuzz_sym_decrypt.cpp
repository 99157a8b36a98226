// Decryption of arbitrary ciphertexts: the symmetric service for every
// algorithm (AES and SM4), and the SM4 engine directly in every mode (ECB,
// CFB, OFB, CTR, CBC, GCM with associated data). Keystream modes must
// invert; GCM must never release plaintext under a wrong tag.
#include "common.h"
#include "crypto/sm4/cipher.h"
#include "crypto/sm4/cipher_mode.h"
#include "crypto/sm4/gcm.h"
#include "support/base64.h"
#include "vorel/sym/encrypt.h"

namespace tarnwick::fuzz {
namespace {
constexpr std::uint8_t kKey[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                   17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
constexpr std::uint8_t kIv[16] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
                                  0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF};
}  // namespace

// Layout: [selector][key flag][aad length][aad][data]. The selector picks
// the service algorithm (mod 13) and the engine mode; with the key flag odd
// the fixed key and IV are used, else key and IV come from the input.
void seeds(SeedSink& sink) {
  const Bytes plain = {'s', 'e', 'e', 'd', ' ', 'p', 'l', 'a', 'i', 'n', 't', 'e', 'x', 't', '!', '!', '?'};
  for (int alg = 0; alg < 13; ++alg) {
    auto ct = vorel::sym::sym_encrypt(static_cast<vorel::sym::SymAlgorithm>(alg), plain,
                                      base64::encode(ByteView(kKey, alg >= 4 && alg < 8 ? 32 : 16)),
                                      base64::encode(kIv));
    if (!ct) continue;
    Bytes seed = {static_cast<std::uint8_t>(alg), 1, 0};
    seed.insert(seed.end(), ct->begin(), ct->end());
    sink.add(seed);
  }
}
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::fuzz;
  Input in(data, size);
  const std::uint8_t selector = in.byte();
  const bool fixed = in.byte() & 1;
  const auto alg = static_cast<vorel::sym::SymAlgorithm>(selector % 13);
  const bool wide = selector % 13 >= 4 && selector % 13 < 8;
  ByteView key = fixed ? ByteView(kKey, wide ? 32 : 16) : in.take(wide ? 32 : 16);
  ByteView iv = fixed ? ByteView(kIv) : in.take(16);
  ByteView aad = in.take(in.byte());
  const Bytes ct(in.rest().begin(), in.rest().end());

  auto plain = vorel::sym::sym_decrypt(alg, ct, base64::encode(key), base64::encode(iv));
  if (plain) {
    FUZZ_CHECK(plain->size() <= ct.size(), "plaintext longer than ciphertext");
  } else {
    FUZZ_CHECK(!plain.error().display().empty(), "empty error text");
  }

  Bytes key16(key.begin(), key.end());
  key16.resize(16);
  auto schedule = sm4::cipher::key_schedule(key16);
  FUZZ_CHECK(schedule.has_value(), "16-byte key refused");
  sm4::cipher::decrypt_ecb(*schedule, ct);
  for (int m = 0; m <= 4; ++m) {
    const sm4::Sm4ModeCipher c{*schedule, static_cast<sm4::Sm4Mode>(m)};
    auto out = sm4::cipher_mode::decrypt(c, aad, ct, iv);
    // An IV of the wrong length must fail before anything is computed.
    FUZZ_CHECK(iv.size() == 16 || !out, "short IV accepted");
    if (!out) continue;
    if (m <= 2) {
      auto back = sm4::cipher_mode::encrypt(c, aad, *out, iv);
      FUZZ_CHECK(back && *back == ct, "keystream mode does not invert");
    }
    if (m == 3) FUZZ_CHECK(ct.size() % 16 == 0 && !ct.empty() && out->size() < ct.size(), "CBC lengths");
    if (m == 4) {
      // Accepted only with a verifying tag: re-encryption gives the input.
      auto back = sm4::cipher_mode::encrypt(c, aad, *out, iv);
      FUZZ_CHECK(back && *back == ct, "GCM accepted a tag it does not produce");
    }
  }
  return 0;
}
