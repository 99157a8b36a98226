// Differential: our SM4 (ECB, CBC with PKCS#7, CFB128, OFB, CTR) against
// OpenSSL's on the same key, IV and data, both directions, on every SM4
// path this processor runs (forced in turn with cpu::testing::withhold).
// GCM, which this OpenSSL lacks for SM4, is compared with a plain NIST SP
// 800-38D construction over OpenSSL's SM4 block (bitwise GF(2^128)
// multiply). The GFNI + AVX2 kernels also run on every input with GFNI and
// VPCLMULQDQ modelled, against the dispatched path, so that they are
// fuzzed on processors without those instructions too.
// Layout: [mode][key 16][iv 16][aad length][aad][data].
#include <array>
#include <cstring>
#include <string_view>

#include <openssl/evp.h>

#include "common.h"
#include "crypto/sm4/cipher.h"
#include "crypto/sm4/cipher_mode.h"
#include "crypto/sm4/path.h"
#include "support/cpu.h"
#include "../tests/native/crypto/sm4_gfni_avx2_modelled.h"

namespace tarnwick::fuzz {
namespace {

Bytes openssl_run(const EVP_CIPHER* c, bool enc, ByteView key, ByteView iv, ByteView in, bool padding) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 32);
  int n1 = 0, n2 = 0;
  FUZZ_CHECK(EVP_CipherInit_ex(ctx, c, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), enc ? 1 : 0) == 1,
             "OpenSSL init");
  EVP_CIPHER_CTX_set_padding(ctx, padding ? 1 : 0);
  FUZZ_CHECK(EVP_CipherUpdate(ctx, out.data(), &n1, in.data(), static_cast<int>(in.size())) == 1, "update");
  FUZZ_CHECK(EVP_CipherFinal_ex(ctx, out.data() + n1, &n2) == 1, "final");
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<std::size_t>(n1 + n2));
  return out;
}

using Blk = std::array<std::uint8_t, 16>;

Blk sm4_block(ByteView key, const Blk& in) {
  Bytes out = openssl_run(EVP_sm4_ecb(), true, key, {}, in, false);
  Blk b;
  std::memcpy(b.data(), out.data(), 16);
  return b;
}

// X·Y in GF(2^128) with the GCM bit order (SP 800-38D Algorithm 1).
Blk gf_mul(const Blk& x, const Blk& y) {
  Blk z{}, v = y;
  for (int i = 0; i < 128; ++i) {
    if ((x[i / 8] >> (7 - i % 8)) & 1)
      for (int j = 0; j < 16; ++j) z[j] ^= v[j];
    const bool lsb = v[15] & 1;
    for (int j = 15; j > 0; --j) v[j] = static_cast<std::uint8_t>((v[j] >> 1) | (v[j - 1] << 7));
    v[0] >>= 1;
    if (lsb) v[0] ^= 0xE1;
  }
  return z;
}

void ghash_update(Blk& y, const Blk& h, ByteView data) {
  for (std::size_t off = 0; off < data.size(); off += 16) {
    const std::size_t n = std::min<std::size_t>(16, data.size() - off);
    for (std::size_t j = 0; j < n; ++j) y[j] ^= data[off + j];
    y = gf_mul(y, h);
  }
}

Blk length_block(std::uint64_t a_bits, std::uint64_t c_bits) {
  Blk b{};
  for (int i = 0; i < 8; ++i) {
    b[i] = static_cast<std::uint8_t>(a_bits >> (56 - 8 * i));
    b[8 + i] = static_cast<std::uint8_t>(c_bits >> (56 - 8 * i));
  }
  return b;
}

Bytes reference_gcm(ByteView key, ByteView iv, ByteView aad, ByteView plain) {
  const Blk h = sm4_block(key, Blk{});
  Blk j0{};
  ghash_update(j0, h, iv);
  const Blk ivlen = length_block(0, iv.size() * 8);
  ghash_update(j0, h, ivlen);
  Bytes out(plain.begin(), plain.end());
  Blk ctr = j0;
  for (std::size_t off = 0; off < out.size(); off += 16) {
    for (int j = 15; j >= 12; --j)
      if (++ctr[j] != 0) break;
    const Blk ks = sm4_block(key, ctr);
    for (std::size_t j = 0; j < 16 && off + j < out.size(); ++j) out[off + j] ^= ks[j];
  }
  Blk s{};
  ghash_update(s, h, aad);
  ghash_update(s, h, out);
  ghash_update(s, h, length_block(aad.size() * 8, out.size() * 8));
  const Blk ej0 = sm4_block(key, j0);
  for (int j = 0; j < 16; ++j) out.push_back(ej0[j] ^ s[j]);
  return out;
}

}  // namespace

void seeds(SeedSink& sink) {
  for (std::uint8_t mode = 0; mode < 6; ++mode) {
    Bytes s = {mode};
    for (int i = 0; i < 32; ++i) s.push_back(static_cast<std::uint8_t>(i * 7));
    s.push_back(3);
    s.insert(s.end(), {'a', 'a', 'd'});
    for (int i = 0; i < 37; ++i) s.push_back(static_cast<std::uint8_t>(i));
    sink.add(s);
  }
}

}  // namespace tarnwick::fuzz

namespace tarnwick::fuzz {
namespace {

struct PathChoice {
  const char* name;
  std::uint32_t withheld;
};
const PathChoice kPaths[] = {
    {"gfni-avx512", 0},
    {"gfni-avx2", cpu::kAvx512 | cpu::kAvx512Vbmi},
    {"gfni-avx2-pclmul", cpu::kAvx512 | cpu::kAvx512Vbmi | cpu::kVpclmul},
    {"aesni-avx2", cpu::kGfni | cpu::kAvx512 | cpu::kAvx512Vbmi | cpu::kVaes | cpu::kVpclmul},
    {"portable", ~std::uint32_t{0}},
};

// check runs one input on the path in force.
void check(std::uint8_t mode, const Bytes& key, const Bytes& iv, ByteView aad, ByteView plain) {
  auto schedule = sm4::cipher::key_schedule(key);
  FUZZ_CHECK(schedule.has_value(), "key schedule");
  if (mode == 5) {  // ECB over whole blocks
    const ByteView whole = plain.first(plain.size() / 16 * 16);
    auto ct = sm4::cipher::encrypt_ecb(*schedule, plain);
    FUZZ_CHECK(ct && *ct == openssl_run(EVP_sm4_ecb(), true, key, {}, whole, false), "ECB differs");
    auto pt = sm4::cipher::decrypt_ecb(*schedule, whole);
    FUZZ_CHECK(pt && *pt == openssl_run(EVP_sm4_ecb(), false, key, {}, whole, false), "ECB decrypt differs");
    return;
  }
  const auto m = static_cast<sm4::Sm4Mode>(mode);
  const sm4::Sm4ModeCipher c{*schedule, m};
  auto ct = sm4::cipher_mode::encrypt(c, aad, plain, iv);
  FUZZ_CHECK(ct.has_value(), "encrypt failed");
  Bytes expected;
  switch (m) {
    case sm4::Sm4Mode::Cfb: expected = openssl_run(EVP_sm4_cfb128(), true, key, iv, plain, false); break;
    case sm4::Sm4Mode::Ofb: expected = openssl_run(EVP_sm4_ofb(), true, key, iv, plain, false); break;
    case sm4::Sm4Mode::Ctr: expected = openssl_run(EVP_sm4_ctr(), true, key, iv, plain, false); break;
    case sm4::Sm4Mode::Cbc: expected = openssl_run(EVP_sm4_cbc(), true, key, iv, plain, true); break;
    case sm4::Sm4Mode::Gcm: expected = reference_gcm(key, iv, aad, plain); break;
  }
  FUZZ_CHECK(*ct == expected, "SM4 ciphertext differs from the reference");
  auto back = sm4::cipher_mode::decrypt(c, aad, *ct, iv);
  FUZZ_CHECK(back && *back == Bytes(plain.begin(), plain.end()), "decrypt does not invert encrypt");
}

// check_modelled runs the modelled GFNI + AVX2 kernels against the
// kernels of the dispatched path (checked against OpenSSL above, and the
// fastest on this processor): the key schedule, blocks with the encryption and the
// decryption keys, the counter keystream of both kinds, the serial chains
// (with the register left behind) and both GHASH kernels with the key as H.
void check_modelled(const Bytes& key, const Bytes& iv, ByteView data) {
  if (!cpu::has(cpu::kAvx2 | cpu::kAvx | cpu::kSsse3 | cpu::kPclmul)) return;
  namespace d = sm4::detail;
  const d::Path& ref = d::active();
  std::uint32_t rk[32], rk_ref[32];
  d::kGfniAvx2EmulatedPath.expand_key(key.data(), rk);
  ref.expand_key(key.data(), rk_ref);
  FUZZ_CHECK(std::memcmp(rk, rk_ref, sizeof rk) == 0, "modelled key schedule differs");
  const std::size_t n = data.size(), blocks = n / 16;
  Bytes a(n), b(n);
  auto same = [](const std::uint8_t* x, const std::uint8_t* y, std::size_t len) {
    return len == 0 || std::memcmp(x, y, len) == 0;
  };
  if (blocks > 0) {
    const d::DecryptKeys dk(rk);
    for (const std::uint32_t* keys : {static_cast<const std::uint32_t*>(rk), dk.keys.value + 0}) {
      d::kGfniAvx2EmulatedPath.crypt_blocks(keys, data.data(), a.data(), blocks);
      ref.crypt_blocks(keys, data.data(), b.data(), blocks);
      FUZZ_CHECK(same(a.data(), b.data(), 16 * blocks), "modelled blocks differ");
    }
  }
  for (d::Counter kind : {d::Counter::Full128, d::Counter::Low32}) {
    std::uint8_t ca[16], cb[16];
    std::memcpy(ca, iv.data(), 16);
    std::memcpy(cb, iv.data(), 16);
    d::kGfniAvx2EmulatedPath.ctr(rk, ca, kind, data.data(), a.data(), n);
    ref.ctr(rk, cb, kind, data.data(), b.data(), n);
    FUZZ_CHECK(a == b && std::memcmp(ca, cb, 16) == 0, "modelled counter keystream differs");
  }
  for (d::Chain kind : {d::Chain::CbcEncrypt, d::Chain::CfbEncrypt, d::Chain::Ofb}) {
    const std::size_t len = kind == d::Chain::CbcEncrypt ? 16 * blocks : n;
    std::uint8_t ra[16], rb[16];
    std::memcpy(ra, iv.data(), 16);
    std::memcpy(rb, iv.data(), 16);
    d::kGfniAvx2EmulatedPath.chain(kind, rk, ra, data.data(), a.data(), len);
    ref.chain(kind, rk, rb, data.data(), b.data(), len);
    FUZZ_CHECK(same(a.data(), b.data(), len) && std::memcmp(ra, rb, 16) == 0,
               "modelled serial chain differs");
  }
  for (const d::Path* p : {&d::kGfniAvx2EmulatedPath, &d::kGfniAvx2PclmulEmulatedPath}) {
    d::GhashKey ka, kb;
    p->ghash_init(ka, key.data());
    ref.ghash_init(kb, key.data());
    std::uint8_t ya[16], yb[16];
    std::memcpy(ya, iv.data(), 16);
    std::memcpy(yb, iv.data(), 16);
    p->ghash(ka, ya, data.data(), blocks);
    ref.ghash(kb, yb, data.data(), blocks);
    FUZZ_CHECK(std::memcmp(ya, yb, 16) == 0, "modelled GHASH differs");
  }
}

}  // namespace
}  // namespace tarnwick::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarnwick;
  using namespace tarnwick::fuzz;
  Input in(data, size);
  const std::uint8_t mode = in.byte() % 6;
  Bytes key(16), iv(16);
  ByteView k = in.take(16), v = in.take(16);
  std::copy(k.begin(), k.end(), key.begin());
  std::copy(v.begin(), v.end(), iv.begin());
  const ByteView aad = in.take(in.byte());
  const ByteView plain = in.rest();
  for (const PathChoice& p : kPaths) {
    cpu::testing::withhold(p.withheld);
    // A path the processor lacks falls through to a slower one, already
    // covered by its own entry.
    if (std::string_view(sm4::detail::active().name) == p.name) check(mode, key, iv, aad, plain);
  }
  cpu::testing::withhold(0);
  check_modelled(key, iv, plain);
  return 0;
}
