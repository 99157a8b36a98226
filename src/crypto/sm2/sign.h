// SM2 signature generation over the recommended curve (GB/T 32918.2 §6.1).
//
// Signing runs in constant time with respect to the private scalar d and the
// nonce k: k·G, the arithmetic modulo n and (1 + d)⁻¹ are fixed-width and
// branch-free. Only public outcomes are branched on: the redraw tests on r
// and s (which are published or discarded) and the two key tests below
// (d ≡ 0 and d ≡ −1 modulo n, which every signing attempt would reveal).
#pragma once

#include "crypto/sm2/key_pair.h"
#include "support/bytes.h"
#include "support/error.h"

namespace tarnwick::sm2 {

// SignatureValues holds r and s, each as its minimal big-endian bytes (no
// leading zero bytes, so a value below 2^248 takes 31 bytes or fewer).
struct SignatureValues {
  Bytes r;
  Bytes s;
};

// sign_digest signs the 32-byte digest `e` with `key.d` and a fresh nonce k
// from random_scalar. Failures (display texts):
//   "the length of digest must be 32-bytes"  `e` is not 32 bytes (no draw);
//   "invalid private key"                    d ≡ 0 mod n (d = 0 or d = n),
//                                            whose public key is the point
//                                            at infinity;
//   "the signature is zero, cannot sign"     1 + d ≡ 0 mod n (d = n − 1),
//                                            so no s can be non-zero;
//   the random source's text                 a draw failed;
//   "the random source yields no usable nonce"  128 nonces in a row were
//                                            rejected (r = 0, r + k = n or
//                                            s = 0), impossible for a
//                                            working source.
// Any other `key.d` below 2^256 is used as given.
Result<SignatureValues> sign_digest(ByteView e, const Sm2PrivateKey& key);

}  // namespace tarnwick::sm2
