#!/usr/bin/env python3
"""Reference values for the version 1.1.0 two-party multiplication from its
extension's first message on, computed once with plain Python integers and
the PyPI blake3 and pycryptodome packages (the OT-extension pieces from
velto-ote/testdata/ote_reference.py).

From fixed PPRF trees (built here from made-up base-OT keys), a fixed
executor tag and fixed draws, it runs both sides of one preprocessing with
c = 4 (1,664 correlated OTs over 1,728 rows): messages 1 to 5, the seed
sigma, chi and chi', the 1,664 random-OT key pairs with bob's choice bits,
both sides' scalar shares, bob's pads, the 416-entry gadget vector, and two
input-and-adjust steps of two products each.

Writes mul_vectors.txt next to this script: one "name hex" pair per line.
The tests read that file; they never run this script.

Run: /work/main/.venv/bin/python gen_mul_vectors.py
"""

import os
import sys

import blake3

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "velto-ote", "testdata"))
from ote_reference import chacha_stream, dk, full_trees, gf64, gf128, keyed, le, punctured_tree, row, row_hash, varint  # noqa: E402

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mul_vectors.txt")
N = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141
BLOCK = 416
lines = []


def emit(name, value):
    lines.append(f"{name} {bytes(value).hex()}")


def be32(v):
    return v.to_bytes(32, "big")


def reduce_once(b):
    v = int.from_bytes(b, "big")
    return v - N if v >= N else v


# ---------------------------------------------------------------- set-up records

K = [[dk("test mul base ot keys", bytes([i, b])) for b in (0, 1)] for i in range(128)]
choice = [dk("test mul base ot choices", bytes([i]))[0] & 1 for i in range(128)]
setup_hash = dk("test mul setup transcript", b"")

full_leaves, hashes, corrections, sums = full_trees(K)
punct = [punctured_tree(K, choice, t, hashes, corrections, sums) for t in range(64)]
P = [p for _, p, _ in punct]
assert sorted(set(P)) == [0, 1, 2, 3]
assert all(punct[t][2] == hashes[t] for t in range(64))

emit("full_trees", b"".join(b"".join(l) for l in full_leaves) + setup_hash)
emit(
    "punctured_trees",
    b"".join(hashes) + b"".join(h for _, _, h in punct) + b"".join(b"".join(l) + bytes([p]) for l, p, _ in punct)
    + setup_hash,
)

# ---------------------------------------------------------------- fixed draws

c = 4
ell = BLOCK * c
m = (ell + 63) // 64 * 64 + 64
words = m // 64
assert (ell, m, words) == (1664, 1728, 27)

tag_e2 = dk("test mul executor tag", b"E2")
hash_key = dk("test mul draw", b"hash key")
check_seed = dk("test mul draw", b"check seed")
pads_a = [reduce_once(dk("test mul draw", b"pad" + bytes([i]))) for i in range(c)]
checks_a = [reduce_once(dk("test mul draw", b"check" + bytes([i]))) for i in range(c)]
emit("tag_e2", tag_e2)
emit("hash_key", hash_key)
emit("check_seed", check_seed)
emit("alice_pads", b"".join(map(be32, pads_a)))
emit("alice_checks", b"".join(map(be32, checks_a)))

# ---------------------------------------------------------------- messages 1 to 3


def vole_prg(leaf):
    return le(dk("VELTO ote-vole prg-v0", tag_e2 + leaf, m // 8))


bob_lo, bob_hi, bob_u = [], [], []
for t in range(64):
    r = [vole_prg(full_leaves[t][e]) for e in range(4)]
    bob_u.append(r[0] ^ r[1] ^ r[2] ^ r[3])
    bob_lo.append(r[1] ^ r[3])
    bob_hi.append(r[2] ^ r[3])
omega = bob_u[63]
message1 = b"".join(varint(words) + (bob_u[t] ^ omega).to_bytes(8 * words, "little") for t in range(63))
message2 = check_seed + hash_key

seed = keyed(check_seed, b"VELTO OTe SoftSpokenOT UniversalHash V0" + b"ConsistencyCheck")
v = le(chacha_stream(seed, 8))
chi_ext, acc = [], v
for _ in range(words):
    chi_ext.append(acc)
    acc = gf64(acc, v)


def uhash(plane):
    s = 0
    for k in range(words):
        s ^= gf64(chi_ext[k], (plane >> (64 * k)) & ((1 << 64) - 1))
    return s


def interleave(s0, s1):
    out = 0
    for e in range(64):
        out |= (((s0 >> e) & 1) | (((s1 >> e) & 1) << 1)) << (2 * e)
    return out.to_bytes(16, "little")


xi = uhash(omega)
digest = dk("COTe V_Universal_Hash SoftSpokenOT V0", b"".join(interleave(uhash(bob_lo[t]), uhash(bob_hi[t])) for t in range(64)))
message3 = xi.to_bytes(8, "little") + digest

# Alice's side: her vectors from the punctured trees, then the corrections.
al_lo, al_hi = [], []
for t in range(64):
    leaves, p, _ = punct[t]
    lo = hi = 0
    for e in range(4):
        if e == p:
            continue
        r = vole_prg(leaves[e])
        if (e ^ p) & 1:
            lo ^= r
        if (e ^ p) & 2:
            hi ^= r
    if t < 63:
        corr = bob_u[t] ^ omega
        if P[t] & 1:
            lo ^= corr
        if P[t] & 2:
            hi ^= corr
    al_lo.append(lo)
    al_hi.append(hi)
check = dk(
    "COTe V_Universal_Hash SoftSpokenOT V0",
    b"".join(
        interleave(uhash(al_lo[t]) ^ (xi if P[t] & 1 else 0), uhash(al_hi[t]) ^ (xi if P[t] & 2 else 0))
        for t in range(64)
    ),
)
assert check == digest

emit("message1", message1)
emit("message2", message2)
emit("message3", message3)

# ---------------------------------------------------------------- random-OT keys


Kh = le(chacha_stream(hash_key, 16))
delta = sum(P[t] << (2 * t) for t in range(64))
keys0, keys1, keys_bob, omegas = [], [], [], []
for k in range(ell):
    tweak = gf128(Kh, (k + 1) % 65536)
    T = row(al_lo, al_hi, k) ^ tweak
    keys0.append(row_hash(T, k))
    keys1.append(row_hash(T ^ delta, k))
    w = (omega >> k) & 1
    keys_bob.append(row_hash(row(bob_lo, bob_hi, k) ^ tweak, k))
    omegas.append(w)
    assert keys_bob[k] == (keys1[k] if w else keys0[k])
emit("keys0", b"".join(keys0))
emit("keys1", b"".join(keys1))
emit("choices", bytes(omegas))

# ---------------------------------------------------------------- scalar correlation


def split(key):
    out = dk("VELTO cote prg-v0", key, 64)
    return reduce_once(out[:32]), reduce_once(out[32:])


sA, sA2, tau = [], [], []
for k in range(ell):
    i = k // BLOCK
    A0, B0 = split(keys0[k])
    A1, B1 = split(keys1[k])
    sA.append(A0)
    sA2.append(B0)
    tau.append(((pads_a[i] - A0 - A1) % N, (checks_a[i] - B0 - B1) % N))
message4 = varint(ell) + b"".join(be32(x) + be32(y) for x, y in tau)
emit("message4", message4)

transcript = blake3.blake3(derive_key_context="VELTO Transcript V0")
for part in (setup_hash, message1, check_seed, hash_key, xi.to_bytes(8, "little"), digest, message4):
    transcript.update(part)
sigma = transcript.digest()
emit("sigma", sigma)


def multiplier_ro(index, seed, count):
    out = dk("VELTO two-party multiplier V0", bytes([index]) + seed, 64 * count)
    return [int.from_bytes(out[64 * k : 64 * k + 64], "big") % N for k in range(count)]


chi = multiplier_ro(1, sigma, c)
chi2 = multiplier_ro(2, sigma, c)
emit("chi", b"".join(map(be32, chi)))
emit("chi2", b"".join(map(be32, chi2)))
emit("ro_seed", check_seed)
emit("ro_index1_count3", b"".join(map(be32, multiplier_ro(1, check_seed, 3))))

sB, sB2 = [], []
for k in range(ell):
    A, B = split(keys_bob[k])
    if omegas[k]:
        sB.append((tau[k][0] + A) % N)
        sB2.append((tau[k][1] + B) % N)
    else:
        sB.append(-A % N)
        sB2.append(-B % N)
emit("alice_shares", b"".join(map(be32, sA)))
emit("bob_shares", b"".join(map(be32, sB)))

r = [sum(chi[i] * sA[BLOCK * i + j] + chi2[i] * sA2[BLOCK * i + j] for i in range(c)) % N for j in range(BLOCK)]
u = [(chi[i] * pads_a[i] + chi2[i] * checks_a[i]) % N for i in range(c)]
message5 = b"".join(map(be32, r)) + varint(c) + b"".join(map(be32, u))
emit("message5", message5)
for j in range(BLOCK):
    bob_side = sum(omegas[BLOCK * i + j] * u[i] - chi[i] * sB[BLOCK * i + j] - chi2[i] * sB2[BLOCK * i + j] for i in range(c))
    assert bob_side % N == r[j]

# ---------------------------------------------------------------- gadget vector and pads

gadget = [1 << (8 * (31 - i // 8) + i % 8) for i in range(256)]
stream = dk("VELTO ECDSA 2PMUL GADGET SEED V0", b"", 32 * 160)
gadget += [reduce_once(stream[32 * k : 32 * k + 32]) for k in range(160)]
assert gadget[0] == 1 << 248 and gadget[7] == 1 << 255 and gadget[248] == 1 and gadget[255] == 1 << 7
emit("gadget", b"".join(map(be32, gadget)))

pads_b = [sum(gadget[j] for j in range(BLOCK) if omegas[BLOCK * i + j]) % N for i in range(c)]
emit("bob_pads", b"".join(map(be32, pads_b)))
for i in range(c):
    total = sum(gadget[j] * (sA[BLOCK * i + j] + sB[BLOCK * i + j]) for j in range(BLOCK)) % N
    assert total == pads_a[i] * pads_b[i] % N

# ---------------------------------------------------------------- input and adjust

xs = [reduce_once(dk("test mul input", b"x" + bytes([i]))) for i in range(c)]
ys = [reduce_once(dk("test mul input", b"y" + bytes([i]))) for i in range(c)]
emit("inputs_x", b"".join(map(be32, xs)))
emit("inputs_y", b"".join(map(be32, ys)))
for step in range(2):
    idx = [2 * step, 2 * step + 1]
    dA = [(xs[i] - pads_a[i]) % N for i in idx]
    dB = [(ys[i] - pads_b[i]) % N for i in idx]
    zA, zB = [], []
    for n_, i in enumerate(idx):
        gA = sum(gadget[j] * sA[BLOCK * i + j] for j in range(BLOCK))
        gB = sum(gadget[j] * sB[BLOCK * i + j] for j in range(BLOCK))
        zA.append((xs[i] * dB[n_] + gA) % N)
        zB.append((pads_b[i] * dA[n_] + gB) % N)
        assert (zA[-1] + zB[-1]) % N == xs[i] * ys[i] % N
    emit(f"step{step}_masked_alice", varint(2) + b"".join(map(be32, dA)))
    emit(f"step{step}_masked_bob", varint(2) + b"".join(map(be32, dB)))
    emit(f"step{step}_alice_out", b"".join(map(be32, zA)))
    emit(f"step{step}_bob_out", b"".join(map(be32, zB)))

with open(OUT, "w") as f:
    f.write("# Generated by gen_mul_vectors.py; one \"name hex\" pair per line.\n")
    f.write("\n".join(lines) + "\n")
print(f"wrote {len(lines)} values to {OUT}")
