// The SM4 secret check under memcheck: the key is marked undefined with
// VALGRIND_MAKE_MEM_UNDEFINED, so that every branch on it and every memory
// address computed from it (or from anything derived from it: round keys,
// cipher state, keystream, GCM's H, its powers, J0 and the counters) is
// reported. It runs the key schedule, ECB both ways, the five modes both
// ways (CBC's and GCM's failure paths too) and GCTR, on every SM4 path
// that memcheck can execute here, at lengths that reach the single-block,
// partial-batch and full-batch code of each path, and PKCS#7 unpadding
// over what ECB, CBC and CFB decrypt, valid and not. Results are made
// defined again before they are compared. scripts/valgrind.sh fails on
// any report.
#include <valgrind/memcheck.h>

#include <cstdio>
#include <string>

#include "crypto/padding/pkcs7.h"
#include "crypto/sm4/cipher.h"
#include "crypto/sm4/cipher_mode.h"
#include "crypto/sm4/gcm.h"
#include "crypto/sm4/path.h"
#include "support/cpu.h"

namespace tarnwick::valgrind_ct {
namespace {

int failures = 0;

void expect(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "ct_sm4: %s failed\n", what.c_str());
    ++failures;
  }
}

void declassify(Bytes& b) { VALGRIND_MAKE_MEM_DEFINED(b.data(), b.size()); }

Bytes data_of(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 37 + 11);
  return b;
}

// run_unpad removes the padding from plaintexts that ECB, CBC and CFB
// decryption under the secret key give back, as the symmetric service does:
// the padding bytes themselves are secret until the check's outcome is
// known. Changing ciphertext bytes makes the padding wrong in each of its
// forms (CFB changes exactly the bits flipped; ECB and CBC garble a block).
void run_unpad(const sm4::Sm4KeySchedule& s, const std::string& name) {
  const Bytes iv = data_of(16);
  for (int m : {-1, static_cast<int>(sm4::Sm4Mode::Cbc), static_cast<int>(sm4::Sm4Mode::Cfb)}) {
    const sm4::Sm4ModeCipher c{s, static_cast<sm4::Sm4Mode>(m < 0 ? 0 : m)};
    auto enc_of = [&](const Bytes& plain) {
      return m < 0 ? sm4::cipher::encrypt_ecb(s, plain) : sm4::cipher_mode::encrypt(c, {}, plain, iv);
    };
    auto dec_of = [&](const Bytes& ct) {
      return m < 0 ? sm4::cipher::decrypt_ecb(s, ct) : sm4::cipher_mode::decrypt(c, {}, ct, iv);
    };
    for (std::size_t n : {0u, 5u, 16u, 33u}) {
      const std::string at = name + " unpad mode " + std::to_string(m) + " len " + std::to_string(n);
      Bytes plain = data_of(n);
      padding::pkcs7::pad(plain);
      auto enc = enc_of(plain);
      declassify(*enc);
      // The unchanged ciphertext, then the last byte's top bit flipped (a
      // length above the data), then a padding byte before it flipped.
      for (int change = 0; change < 3; ++change) {
        Bytes ct = *enc;
        if (change == 1) ct.back() ^= 0x80;
        if (change == 2) ct[ct.size() - 2] ^= 0x01;
        auto dec = dec_of(ct);
        if (!dec) continue;
        auto r = padding::pkcs7::unpad(*dec);
        declassify(*dec);
        if (change == 0) expect(r && *dec == data_of(n), at);
        if (change > 0 && m == static_cast<int>(sm4::Sm4Mode::Cfb)) expect(!r, at + " change " + std::to_string(change));
      }
    }
  }
}

void run_path(const char* name) {
  Bytes key = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
  VALGRIND_MAKE_MEM_UNDEFINED(key.data(), key.size());
  auto schedule = sm4::cipher::key_schedule(key);
  expect(schedule.has_value(), std::string(name) + " key schedule");
  if (!schedule) return;
  const sm4::Sm4KeySchedule& s = *schedule;

  // GB/T 32907-2016 A.1 through the single-block and ECB forms.
  const Bytes plain = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
  auto one = sm4::cipher::encrypt_block(s, plain);
  VALGRIND_MAKE_MEM_DEFINED(one->data(), one->size());
  expect(Bytes(one->begin(), one->end()) ==
             Bytes({0x68, 0x1e, 0xdf, 0x34, 0xd2, 0x06, 0x96, 0x5e, 0x86, 0xb3, 0xe9, 0x4f, 0x53, 0x6e, 0x42, 0x46}),
         std::string(name) + " A.1");
  auto back = sm4::cipher::decrypt_block(s, *one);
  VALGRIND_MAKE_MEM_DEFINED(back->data(), back->size());
  expect(Bytes(back->begin(), back->end()) == plain, std::string(name) + " A.1 decrypt");

  const Bytes iv = data_of(16);
  const Bytes aad = data_of(20);
  for (std::size_t n : {0u, 5u, 16u, 33u, 16u * 7 + 3, 16u * 17 + 9, 16u * 70}) {
    const std::string at = std::string(name) + " len " + std::to_string(n);
    const Bytes data = data_of(n);
    auto ecb = sm4::cipher::encrypt_ecb(s, data);
    auto ecb_back = sm4::cipher::decrypt_ecb(s, *ecb);
    declassify(*ecb_back);
    expect(*ecb_back == Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n / 16 * 16)), at + " ECB");
    for (int m = 0; m <= 4; ++m) {
      const sm4::Sm4ModeCipher c{s, static_cast<sm4::Sm4Mode>(m)};
      auto enc = sm4::cipher_mode::encrypt(c, aad, data, iv);
      declassify(*enc);
      auto dec = sm4::cipher_mode::decrypt(c, aad, *enc, iv);
      if (dec) declassify(*dec);
      expect(dec && *dec == data, at + " mode " + std::to_string(m));
      // Failure paths: a changed GCM tag, a CBC block whose padding byte
      // is most likely out of range.
      Bytes bad = *enc;
      if (!bad.empty()) bad.back() ^= 0x5a;
      auto rejected = sm4::cipher_mode::decrypt(c, aad, bad, iv);
      if (rejected) declassify(*rejected);
    }
    sm4::Block icb{};
    icb[15] = 0xfe;
    auto g = sm4::cipher_mode::gctr(s, icb, data);
    declassify(*g);
  }
  run_unpad(s, name);
}

}  // namespace

// ct_sm4 runs the check on each path memcheck can execute and returns the
// number of failed comparisons (memcheck's reports are counted by
// valgrind itself).
int ct_sm4() {
  struct Path {
    const char* name;
    std::uint32_t withheld;
  };
  const Path paths[] = {
      {"gfni-avx512", 0},
      {"gfni-avx2", cpu::kAvx512 | cpu::kAvx512Vbmi},
      {"gfni-avx2-pclmul", cpu::kAvx512 | cpu::kAvx512Vbmi | cpu::kVpclmul},
      {"aesni-avx2", cpu::kGfni | cpu::kAvx512 | cpu::kAvx512Vbmi | cpu::kVaes | cpu::kVpclmul},
      {"portable", ~std::uint32_t{0}},
  };
  for (const Path& p : paths) {
    cpu::testing::withhold(p.withheld);
    const char* active = sm4::detail::active().name;
    if (std::string(active) != p.name) {
      // memcheck's virtual processor reports neither GFNI nor AVX-512,
      // and cannot execute them.
      std::printf("ct_sm4: %-16s not run: the processor memcheck presents lacks its instructions\n", p.name);
      continue;
    }
    std::printf("ct_sm4: %-16s run with the key marked secret\n", p.name);
    run_path(p.name);
  }
  cpu::testing::withhold(0);
  return failures;
}

}  // namespace tarnwick::valgrind_ct
