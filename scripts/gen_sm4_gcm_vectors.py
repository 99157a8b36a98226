#!/usr/bin/env python3
"""Writes tests/vectors/sm4_gcm.txt: SM4-GCM vectors (16-byte IV, 16-byte tag)
computed by python `cryptography`, an independent implementation.

Inputs are derived deterministically from SHA-256 so that reruns reproduce
the file byte for byte."""
import hashlib
import pathlib

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes


def det(label: str, n: int) -> bytes:
    out = b""
    i = 0
    while len(out) < n:
        out += hashlib.sha256(f"{label}/{i}".encode()).digest()
        i += 1
    return out[:n]


CASES = [(0, 0), (0, 1), (20, 0), (20, 1), (1, 15), (15, 16), (16, 17), (17, 31),
         (20, 33), (33, 64), (64, 100), (0, 1000), (20, 1000), (7, 255)]


# The symmetric service's fixed associated data.
SERVICE_AAD = bytes.fromhex("5e03b7c9d1f2a84460ce9b13d7a25f0e8c6b4a19")
SERVICE_LENGTHS = [0, 1, 16, 33]


def main() -> None:
    blocks = []
    inputs = [(f"{i}", det(f"aad{i}", alen), plen) for i, (alen, plen) in enumerate(CASES)]
    inputs += [(f"svc{i}", SERVICE_AAD, plen) for i, plen in enumerate(SERVICE_LENGTHS)]
    for idx, aad, plen in inputs:
        key = det(f"key{idx}", 16)
        iv = det(f"iv{idx}", 16)
        pt = det(f"pt{idx}", plen)
        enc = Cipher(algorithms.SM4(key), modes.GCM(iv)).encryptor()
        enc.authenticate_additional_data(aad)
        ct = enc.update(pt) + enc.finalize()
        blocks.append(
            f"Key = {key.hex()}\nIV = {iv.hex()}\nAAD = {aad.hex()}\n"
            f"PT = {pt.hex()}\nCT = {ct.hex()}\nTag = {enc.tag.hex()}\n")
    path = pathlib.Path(__file__).resolve().parent.parent / "tests" / "vectors" / "sm4_gcm.txt"
    path.write_text("# SM4-GCM, 128-bit IV and tag, from python cryptography.\n\n" + "\n".join(blocks))


if __name__ == "__main__":
    main()
