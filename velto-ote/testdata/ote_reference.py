"""Plain-Python reference pieces of the OT extension shared by the vector
generators (this folder's gen_ote_vectors.py and the legacy ECDSA
multiplication's gen_mul_vectors.py): BLAKE3 and ChaCha20 draws, the
compact-encoding length prefix, GF(2^128)/GF(2^64) products, the PPRF tree
PRGs and hash, and the extension's rows and row hash.

Importing it writes nothing.
"""

import blake3
from Crypto.Cipher import ChaCha20


def dk(context, data, length=32, seek=0):
    return blake3.blake3(data, derive_key_context=context).digest(length=length, seek=seek)


def keyed(key, data, length=32, seek=0):
    return blake3.blake3(data, key=key).digest(length=length, seek=seek)


def xor(a, b):
    return bytes(x ^ y for x, y in zip(a, b))


def le(b):
    return int.from_bytes(b, "little")


def varint(n):
    if n <= 251:
        return bytes([n])
    for k, marker in ((1, 0xFC), (2, 0xFD), (3, 0xFE), (4, 0xFF)):
        if n < 1 << (8 * k):
            return bytes([marker]) + n.to_bytes(k, "little")
    raise ValueError(n)


# GF(2^128) modulo x^128 + x^7 + x^2 + x + 1 and GF(2^64) modulo
# x^64 + x^4 + x^3 + x + 1, bit i the coefficient of x^i.
def clmul(a, b):
    r = 0
    while b:
        if b & 1:
            r ^= a
        a <<= 1
        b >>= 1
    return r


def reduce(p, bits, poly):
    for i in range(p.bit_length() - 1, bits - 1, -1):
        if (p >> i) & 1:
            p ^= poly << (i - bits)
    return p


def gf128(a, b):
    return reduce(clmul(a, b), 128, (1 << 128) | 0x87)


def gf64(a, b):
    return reduce(clmul(a, b), 64, (1 << 64) | 0x1B)


def chacha_stream(key, n):
    return ChaCha20.new(key=key, nonce=bytes(12)).encrypt(bytes(n))


# The PPRF trees: the doubling and tripling PRGs and the tree hash.
def doubling(seed):
    out = dk("VELTO ote-length doubling prg-v0", seed, 64)
    return out[:32], out[32:]


def tripling(seed):
    out = dk("VELTO ote-length tripling prg-v0", seed, 96)
    return out[:32], out[32:64], out[64:]


def pprf_hash(parts):
    return dk("VELTO PPRF ote-hash V0", b"".join(parts))


# Row j of the extension: bit j of every tree's low and high plane, two bits
# a tree; and its hash into a random-OT key.
def row(lows, highs, j):
    v = 0
    for t in range(64):
        v |= (((lows[t] >> j) & 1) | (((highs[t] >> j) & 1) << 1)) << (2 * t)
    return v


def row_hash(value, j):
    return keyed(bytes(32), value.to_bytes(16, "little"), 16, 64 * (j // 1024))
