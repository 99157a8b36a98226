// Cipher: the DER record of an SM2 ciphertext in C1 ‖ C3 ‖ C2 order
// (GB/T 32918.4 §6.1; ASN.1 layout as in GB/T 35276):
//
//   Cipher ::= SEQUENCE {
//     x  INTEGER,        -- x1, the x coordinate of C1
//     y  INTEGER,        -- y1, the y coordinate of C1
//     c3 OCTET STRING,   -- C3 = SM3(x2 ‖ M ‖ y2)
//     c2 OCTET STRING }  -- C2 = M ⊕ KDF(x2 ‖ y2, |M|)
#pragma once

#include "support/bytes.h"
#include "support/der.h"
#include "support/error.h"

namespace tarnwick::ohos::asym {

struct Cipher {
  der::SignedInteger x;
  der::SignedInteger y;
  Bytes c3;
  Bytes c2;

  // encode returns the DER of the record: x and y as minimal two's-complement
  // INTEGERs, c3 and c2 as primitive OCTET STRINGs copied as they are,
  // minimal lengths. No record makes it fail; the Result carries the
  // encoder's error should one ever be raised.
  Result<Bytes> encode() const;

  // decode reads a record from the start of `der`: a constructed SEQUENCE of
  // definite length holding exactly x, y, c3, c2. INTEGERs keep their sign
  // and may carry redundant leading octets; bytes after the SEQUENCE are
  // ignored. Failures read "Error Kind: {description}\nCodec: DER\n", a
  // failure inside a field being "Error when decoding field `Cipher.x`: "
  // followed by the inner error's text.
  static Result<Cipher> decode(ByteView der);

  bool operator==(const Cipher&) const = default;
};

}  // namespace tarnwick::ohos::asym
