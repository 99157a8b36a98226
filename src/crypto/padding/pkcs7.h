// PKCS#7 padding (RFC 5652 §6.3) with a 16-byte block.
#pragma once

#include "support/bytes.h"
#include "support/error.h"

namespace tarnwick::padding::pkcs7 {

// pad appends p = 16 − (n mod 16) bytes of value p to `data` of n bytes, a
// whole block of 0x10 when n is a multiple of 16.
void pad(Bytes& data);

// unpad removes the padding whose length is the last byte of `data`, in
// place. It fails with "data is empty", "padding: invalid padding" (last
// byte 0 or above the length) or "padding: inconsistent padding bytes", in
// that order of checks, and leaves `data` untouched on failure. Any padding
// length up to the vector's length is accepted, not only 1 … 16.
//
// The check runs in constant time: it reads the last min(n, 255) bytes of
// `data` whatever they hold, without a branch or an address that depends on
// them; only its outcome, and on success the padding length, are made
// public.
Result<void> unpad(Bytes& data);

}  // namespace tarnwick::padding::pkcs7
