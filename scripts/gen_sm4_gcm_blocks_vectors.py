#!/usr/bin/env python3
"""Writes tests/vectors/sm4_gcm_blocks.txt: SM4-GCM vectors (16-byte IV,
16-byte tag) at the block counts where the vector paths change strategy:
1, 7, 8, 15, 16, 17 and 64 blocks, partial tails, associated data of 1, 8,
16 and 17 blocks, and messages that cross the 4 KiB pieces of the mode
engine.

Who computes what: the block cipher E is OpenSSL's SM4 (the `openssl enc
-sm4-ecb` command, OpenSSL 3.0); GHASH, GCTR, inc32 and the J0 derivation
for a 128-bit IV are written out below from NIST SP 800-38D (Algorithms 1
to 5), bit by bit, sharing no code with the module. Inputs come from
SHA-256 so that reruns reproduce the file byte for byte."""
import hashlib
import pathlib
import subprocess


def det(label: str, n: int) -> bytes:
    out = b""
    i = 0
    while len(out) < n:
        out += hashlib.sha256(f"blocks/{label}/{i}".encode()).digest()
        i += 1
    return out[:n]


def sm4_ecb(key: bytes, blocks: bytes) -> bytes:
    """E applied to each 16-byte block, by the openssl command."""
    return subprocess.run(
        ["openssl", "enc", "-sm4-ecb", "-e", "-nopad", "-nosalt", "-K", key.hex()],
        input=blocks, capture_output=True, check=True).stdout


R = 0xE1 << 120


def gf_mult(x: int, y: int) -> int:
    """SP 800-38D Algorithm 1; bit 0 of a block is its most significant bit."""
    z, v = 0, y
    for i in range(127, -1, -1):
        if (x >> i) & 1:
            z ^= v
        v = (v >> 1) ^ R if v & 1 else v >> 1
    return z


def ghash(h: int, data: bytes) -> int:
    """SP 800-38D Algorithm 2."""
    assert len(data) % 16 == 0
    y = 0
    for i in range(0, len(data), 16):
        y = gf_mult(y ^ int.from_bytes(data[i:i + 16], "big"), h)
    return y


def inc32(block: bytes) -> bytes:
    low = (int.from_bytes(block[12:], "big") + 1) % (1 << 32)
    return block[:12] + low.to_bytes(4, "big")


def pad16(data: bytes) -> bytes:
    return data + bytes(-len(data) % 16)


def gcm_encrypt(key: bytes, iv: bytes, aad: bytes, pt: bytes) -> tuple[bytes, bytes]:
    """SP 800-38D Algorithm 4 with a 128-bit IV and a 128-bit tag."""
    h = int.from_bytes(sm4_ecb(key, bytes(16)), "big")
    j0 = ghash(h, pad16(iv) + bytes(8) + (len(iv) * 8).to_bytes(8, "big")).to_bytes(16, "big")
    # GCTR (Algorithm 3): the counter blocks J0, inc32(J0), inc32²(J0), …
    counters = [j0]
    for _ in range((len(pt) + 15) // 16):
        counters.append(inc32(counters[-1]))
    stream = sm4_ecb(key, b"".join(counters))
    ct = bytes(p ^ k for p, k in zip(pt, stream[16:]))
    s = ghash(h, pad16(aad) + pad16(ct) + (len(aad) * 8).to_bytes(8, "big") + (len(ct) * 8).to_bytes(8, "big"))
    tag = bytes(a ^ b for a, b in zip(stream[:16], s.to_bytes(16, "big")))
    return ct, tag


# (associated data bytes, plaintext bytes)
CASES = [(0, 16), (0, 16 * 7), (0, 16 * 8), (0, 16 * 15), (0, 16 * 16), (0, 16 * 17), (0, 16 * 64),
         (20, 16 + 5), (20, 16 * 7 + 1), (20, 16 * 8 + 15), (20, 16 * 15 + 8), (20, 16 * 16 + 3),
         (20, 16 * 17 + 11), (20, 16 * 64 + 9), (16, 0), (16 * 8, 16 * 8), (16 * 16, 16 * 16),
         (16 * 17 + 1, 16 * 33 + 2), (16 * 8 + 7, 16 * 16 + 1), (5, 4096), (5, 4096 + 16 * 3 + 1),
         (20, 16 * 300 + 7)]


def main() -> None:
    blocks = []
    for i, (alen, plen) in enumerate(CASES):
        key, iv = det(f"key{i}", 16), det(f"iv{i}", 16)
        aad, pt = det(f"aad{i}", alen), det(f"pt{i}", plen)
        ct, tag = gcm_encrypt(key, iv, aad, pt)
        blocks.append(
            f"Key = {key.hex()}\nIV = {iv.hex()}\nAAD = {aad.hex()}\n"
            f"PT = {pt.hex()}\nCT = {ct.hex()}\nTag = {tag.hex()}\n")
    path = pathlib.Path(__file__).resolve().parent.parent / "tests" / "vectors" / "sm4_gcm_blocks.txt"
    path.write_text("# SM4-GCM, 128-bit IV and tag: OpenSSL's SM4 block cipher under the GHASH and GCTR of\n"
                    "# SP 800-38D written out in scripts/gen_sm4_gcm_blocks_vectors.py.\n\n" + "\n".join(blocks))


if __name__ == "__main__":
    main()
