"""Plain-Python reference pieces of the OT extension shared by the vector
generators (this folder's gen_ote_vectors.py and the legacy ECDSA
multiplication's gen_mul_vectors.py): BLAKE3 and ChaCha20 draws, the
compact-encoding length prefix, GF(2^128)/GF(2^64) products, the PPRF tree
PRGs and hash, the full and punctured trees, and the extension's rows and row hash.

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


# The 64 full trees of 4 leaves from 128 base-OT key pairs K[i] = (K_i0, K_i1):
# every tree's leaves, and the tree message's hashes, corrections and sums.
def full_trees(K):
    full_leaves, hashes, corrections, sums = [], [], [], []
    for t in range(64):
        s0, s1 = doubling(K[t][0])
        s2, s3 = doubling(K[t][1])
        corrections.append(xor(xor(s0, s2), K[t + 64][0]) + xor(xor(s1, s3), K[t + 64][1]))
        ab, leaves = [], []
        A = bytes(32)
        B = bytes(32)
        for s in (s0, s1, s2, s3):
            a, b, v = tripling(s)
            ab += [a, b]
            A, B = xor(A, a), xor(B, b)
            leaves.append(v)
        hashes.append(pprf_hash(ab))
        sums.append(A + B)
        full_leaves.append(leaves)
    return full_leaves, hashes, corrections, sums


# Punctured tree t from the receiver's keys K[i][choice[i]] and the tree
# message: its leaves (zero at the punctured one), the punctured index and
# the recomputed hash.
def punctured_tree(K, choice, t, msg_hashes, msg_corr, msg_sums):
    c, d = choice[t], choice[t + 64]
    known = doubling(K[t][c])
    seeds = [None] * 4
    seeds[2 * c], seeds[2 * c + 1] = known
    half = msg_corr[t][32 * d : 32 * d + 32]
    seeds[2 * (1 - c) + d] = xor(xor(half, K[t + 64][d]), known[d])
    p = 2 * (1 - c) + (1 - d)
    A, B = msg_sums[t][:32], msg_sums[t][32:]
    ab = [None] * 8
    leaves = [bytes(32)] * 4
    for x in range(4):
        if x == p:
            continue
        a, b, v = tripling(seeds[x])
        ab[2 * x], ab[2 * x + 1] = a, b
        A, B = xor(A, a), xor(B, b)
        leaves[x] = v
    ab[2 * p], ab[2 * p + 1] = A, B
    return leaves, p, pprf_hash(ab)


# Row j of the extension: bit j of every tree's low and high plane, two bits
# a tree; and its hash into a random-OT key.
def row(lows, highs, j):
    v = 0
    for t in range(64):
        v |= (((lows[t] >> j) & 1) | (((highs[t] >> j) & 1) << 1)) << (2 * t)
    return v


def row_hash(value, j):
    return keyed(bytes(32), value.to_bytes(16, "little"), 16, 64 * (j // 1024))
