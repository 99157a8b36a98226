#!/usr/bin/env python3
"""Writes tests/vectors/sm4_gcm.txt: SM4-GCM vectors (16-byte IV, 16-byte tag)
computed by python `cryptography`, an independent implementation. With
--check it writes nothing: it recomputes every vector in that file by a
second independent route and fails on any difference.

Writing the file needs python `cryptography` 42 or later, whose SM4-GCM
this script calls (Debian 12's python3-cryptography 38 refuses it):
cryptography 48.0.0 on CPython 3.11.7, whose wheel carries OpenSSL 4.0.0
(the code that does its SM4-GCM), reproduces the file byte for byte.

--check needs only python3's standard library and the `openssl` command
(OpenSSL 3.0 as on Debian 12, which has SM4 but not SM4-GCM): the SM4 block
encryptions come from `openssl enc -sm4-ecb`, and GCM itself (GHASH, the
32-bit counter increments, the tag) is written below from NIST SP 800-38D.

Inputs are derived deterministically from SHA-256 so that reruns reproduce
the file byte for byte."""
import hashlib
import pathlib
import subprocess
import sys

PATH = pathlib.Path(__file__).resolve().parent.parent / "tests" / "vectors" / "sm4_gcm.txt"


def det(label: str, n: int) -> bytes:
    out = b""
    i = 0
    while len(out) < n:
        out += hashlib.sha256(f"{label}/{i}".encode()).digest()
        i += 1
    return out[:n]


CASES = [(0, 0), (0, 1), (20, 0), (20, 1), (1, 15), (15, 16), (16, 17), (17, 31),
         (20, 33), (33, 64), (64, 100), (0, 1000), (20, 1000), (7, 255)]


# The symmetric service's fixed associated data. Lengths added later go at
# the end, so that earlier vectors keep their inputs.
SERVICE_AAD = bytes.fromhex("5e03b7c9d1f2a84460ce9b13d7a25f0e8c6b4a19")
SERVICE_LENGTHS = [0, 1, 16, 33, 17, 64]


def write() -> None:
    from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

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
    PATH.write_text("# SM4-GCM, 128-bit IV and tag, from python cryptography.\n\n" + "\n".join(blocks))


# --- The second route: SM4 from the openssl command, GCM from SP 800-38D. ---

def sm4_encrypt_blocks(key: bytes, blocks: bytes) -> bytes:
    return subprocess.run(["openssl", "enc", "-sm4-ecb", "-K", key.hex(), "-nopad"],
                          input=blocks, capture_output=True, check=True).stdout


R = 0xE1 << 120


def gf_mult(x: int, y: int) -> int:
    """X * Y in GF(2^128), SP 800-38D 6.3 Algorithm 1 (bit 0 is the leftmost)."""
    z, v = 0, y
    for i in range(128):
        if (x >> (127 - i)) & 1:
            z ^= v
        v = (v >> 1) ^ R if v & 1 else v >> 1
    return z


def ghash(h: int, data: bytes) -> int:
    """GHASH_H over whole blocks, SP 800-38D 6.4 Algorithm 2."""
    y = 0
    for i in range(0, len(data), 16):
        y = gf_mult(y ^ int.from_bytes(data[i:i + 16], "big"), h)
    return y


def zero_pad(b: bytes) -> bytes:
    return b + bytes(-len(b) % 16)


def inc32(block: int) -> int:
    return (block & ~0xFFFFFFFF) | ((block + 1) & 0xFFFFFFFF)


def gcm_encrypt(key: bytes, iv: bytes, aad: bytes, pt: bytes) -> tuple[bytes, bytes]:
    """SP 800-38D 7.1 Algorithm 4, 128-bit tag."""
    h = int.from_bytes(sm4_encrypt_blocks(key, bytes(16)), "big")
    if len(iv) == 12:
        j0 = int.from_bytes(iv + b"\0\0\0\1", "big")
    else:
        j0 = ghash(h, zero_pad(iv) + bytes(8) + (8 * len(iv)).to_bytes(8, "big"))
    counters, cb = [], j0
    for _ in range((len(pt) + 15) // 16):
        cb = inc32(cb)
        counters.append(cb.to_bytes(16, "big"))
    stream = sm4_encrypt_blocks(key, j0.to_bytes(16, "big") + b"".join(counters))
    ek_j0, keystream = stream[:16], stream[16:]
    ct = bytes(p ^ k for p, k in zip(pt, keystream))
    s = ghash(h, zero_pad(aad) + zero_pad(ct) + (8 * len(aad)).to_bytes(8, "big") +
              (8 * len(ct)).to_bytes(8, "big"))
    tag = (s ^ int.from_bytes(ek_j0, "big")).to_bytes(16, "big")
    return ct, tag


def check() -> int:
    blocks = []
    for chunk in PATH.read_text().split("\n\n"):
        fields = dict(line.split(" =", 1) for line in chunk.splitlines()
                      if " =" in line and not line.startswith("#"))
        if fields:
            blocks.append({k: bytes.fromhex(v.strip()) for k, v in fields.items()})
    bad = 0
    for i, v in enumerate(blocks):
        ct, tag = gcm_encrypt(v["Key"], v["IV"], v["AAD"], v["PT"])
        if (ct, tag) != (v["CT"], v["Tag"]):
            bad += 1
            print(f"vector {i} (AAD {len(v['AAD'])} bytes, PT {len(v['PT'])} bytes) differs", file=sys.stderr)
    print(f"{PATH.name}: {len(blocks) - bad} vectors agree with SM4 from the openssl command and GCM "
          f"from SP 800-38D, {bad} differ")
    return 1 if bad or not blocks else 0


if __name__ == "__main__":
    if sys.argv[1:] == ["--check"]:
        sys.exit(check())
    write()
