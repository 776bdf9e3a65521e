#!/usr/bin/env python3
"""Reference values for the PPRF trees and OT extensions, computed once with
plain Python integers and the PyPI blake3 and pycryptodome packages (the
shared pieces in ote_reference.py).

Writes ote_vectors.txt next to this script: one "name hex" pair per line.
The tests read that file; they never run this script.

Run: /work/main/.venv/bin/python gen_ote_vectors.py
"""

import os

import blake3

from ote_reference import chacha_stream, dk, full_trees, gf64, gf128, keyed, le, punctured_tree, row, row_hash, varint

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ote_vectors.txt")
lines = []


def emit(name, value):
    if isinstance(value, int):
        raise TypeError(name)
    lines.append(f"{name} {bytes(value).hex()}")


# ---------------------------------------------------------------- base OTs

# 128 base OTs with made-up keys; the receiver's choice bits follow a fixed
# pattern that punctures every leaf index on some tree.
K = [[dk("test base ot keys", bytes([i, b])) for b in (0, 1)] for i in range(128)]
choice = [dk("test base ot choices", bytes([i]))[0] & 1 for i in range(128)]
batch_key = dk("test batch key", b"")

emit("base_ot_sender", b"".join(K[i][0] + K[i][1] for i in range(128)))
emit("base_ot_receiver", b"".join(K[i][choice[i]] + bytes([choice[i]]) for i in range(128)))
emit("batch_key", batch_key)


# ---------------------------------------------------------------- full trees

full_leaves, hashes, corrections, sums = full_trees(K)

message = b"".join(hashes) + b"".join(corrections) + b"".join(sums)
assert len(message) == 10240
emit("pprf_message", message)
full_record = b"".join(b"".join(l) for l in full_leaves) + batch_key
emit("full_trees", full_record)

# ---------------------------------------------------------------- punctured

punct = [punctured_tree(K, choice, t, hashes, corrections, sums) for t in range(64)]
punct_record = (
    b"".join(hashes)
    + b"".join(h for _, _, h in punct)
    + b"".join(b"".join(l) + bytes([p]) for l, p, _ in punct)
    + batch_key
)
assert len(punct_record) == 12384
emit("punctured_trees", punct_record)
P = [p for _, p, _ in punct]
assert sorted(set(P)) == [0, 1, 2, 3]

# ---------------------------------------------------------------- VOLE


def vole_prg(tag, leaf, bits):
    return le(dk("VELTO ote-vole prg-v0", tag + leaf, bits // 8))


def full_vole(tag, rows):
    us, lows, highs = [], [], []
    for t in range(64):
        r = [vole_prg(tag, full_leaves[t][x], rows) for x in range(4)]
        us.append(r[0] ^ r[1] ^ r[2] ^ r[3])
        lows.append(r[1] ^ r[3])
        highs.append(r[2] ^ r[3])
    return us, lows, highs


def punctured_vole(tag, rows):
    lows, highs = [], []
    for t in range(64):
        leaves, p, _ = punct[t]
        lo = hi = 0
        for x in range(4):
            if x == p:
                continue
            r = vole_prg(tag, leaves[x], rows)
            if (x ^ p) & 1:
                lo ^= r
            if (x ^ p) & 2:
                hi ^= r
        lows.append(lo)
        highs.append(hi)
    return lows, highs


def interleave(s0, s1, n):
    v = 0
    for e in range(n):
        v |= (((s0 >> e) & 1) | (((s1 >> e) & 1) << 1)) << (2 * e)
    return v


def corrections_wire(us, base, words):
    out = b""
    for t in range(63):
        out += varint(words) + (us[t] ^ base).to_bytes(8 * words, "little")
    return out


def delta():
    return sum(P[t] << (2 * t) for t in range(64))


# ---------------------------------------------------------------- rote


def rote_vectors(name, tag, ell):
    rows = (ell + 127) // 128 * 128 + 128
    words = rows // 64
    us, lows, highs = full_vole(tag, rows)
    x = us[63]
    corr = corrections_wire(us, x, words)
    fs = dk("VELTO ROTe Fiat-Shamir Challenge V0", tag + batch_key + corr, 48)
    seed, H = fs[:32], le(fs[32:48])
    nchi = rows // 128
    chi_bytes = dk("VELTO OTe SoftSpokenOT UniversalHash V1", seed, 16 * nchi)
    chi = [le(chi_bytes[16 * b : 16 * b + 16]) for b in range(nchi)]
    mask = (1 << 128) - 1
    xt = 0
    for b in range(nchi):
        xt ^= gf128(chi[b], (x >> (128 * b)) & mask)
    planes = []
    for t in range(64):
        s0 = s1 = 0
        for b in range(nchi):
            s0 ^= gf128(chi[b], (lows[t] >> (128 * b)) & mask)
            s1 ^= gf128(chi[b], (highs[t] >> (128 * b)) & mask)
        planes.append((s0, s1))
    digest = dk(
        "COTe V_Universal_Hash SoftSpokenOT V0",
        b"".join(interleave(s0, s1, 128).to_bytes(32, "little") for s0, s1 in planes),
    )
    check = xt.to_bytes(16, "little") + digest
    recv = b"".join(row_hash(row(lows, highs, j) ^ gf128(j + 1, H), j) for j in range(ell))
    choices = bytes((x >> j) & 1 for j in range(ell))

    # The sender, from its punctured trees and the two messages.
    slows, shighs = punctured_vole(tag, rows)
    for t in range(63):
        c = us[t] ^ x
        if P[t] & 1:
            slows[t] ^= c
        if P[t] & 2:
            shighs[t] ^= c
    s_vals = []
    for t in range(64):
        s0 = _fold(chi, slows[t], nchi, mask) ^ (xt if P[t] & 1 else 0)
        s1 = _fold(chi, shighs[t], nchi, mask) ^ (xt if P[t] & 2 else 0)
        s_vals.append(interleave(s0, s1, 128).to_bytes(32, "little"))
    s_digest = dk("COTe V_Universal_Hash SoftSpokenOT V0", b"".join(s_vals))
    assert s_digest == digest
    d0, d1 = b"", b""
    D = delta()
    for j in range(ell):
        e = row(slows, shighs, j) ^ gf128(j + 1, H)
        d0 += row_hash(e, j)
        d1 += row_hash(e ^ D, j)
    for j in range(ell):
        assert recv[16 * j : 16 * j + 16] == (d1 if choices[j] else d0)[16 * j : 16 * j + 16]

    emit(f"{name}_tag", tag)
    emit(f"{name}_corrections", corr)
    emit(f"{name}_check", check)
    emit(f"{name}_choices", choices)
    emit(f"{name}_receiver_digests", recv)
    emit(f"{name}_sender_digests0", d0)
    emit(f"{name}_sender_digests1", d1)


def _fold(chi, plane, nchi, mask):
    s = 0
    for b in range(nchi):
        s ^= gf128(chi[b], (plane >> (128 * b)) & mask)
    return s


rote_vectors("rote512", dk("test rote tag", b"512"), 512)
rote_vectors("rote200", dk("test rote tag", b"200"), 200)

# ---------------------------------------------------------------- cote


def cote_challenges(key, n):
    count = (n + 63) // 64
    seed = keyed(key, b"VELTO OTe SoftSpokenOT UniversalHash V0" + b"ConsistencyCheck")
    v = le(chacha_stream(seed, 8))
    out, acc = [], v
    for _ in range(count):
        out.append(acc)
        acc = gf64(acc, v)
    return out


def cote_vectors(name, tag, ell, tau1, tau2, setup_digest):
    rows = (ell + 63) // 64 * 64 + 64
    words = rows // 64
    us, lows, highs = full_vole(tag, rows)
    x = us[63]
    corr = corrections_wire(us, x, words)
    transcript = blake3.blake3(derive_key_context="VELTO Transcript V0")
    transcript.update(setup_digest)
    transcript.update(corr)
    transcript.update(tau2)
    transcript.update(tau1)
    chi = cote_challenges(tau2, rows)
    mask = (1 << 64) - 1
    xt = 0
    for k in range(words):
        xt ^= gf64(chi[k], (x >> (64 * k)) & mask)
    vals = []
    for t in range(64):
        s0 = s1 = 0
        for k in range(words):
            s0 ^= gf64(chi[k], (lows[t] >> (64 * k)) & mask)
            s1 ^= gf64(chi[k], (highs[t] >> (64 * k)) & mask)
        vals.append(interleave(s0, s1, 64).to_bytes(16, "little"))
    h = dk("COTe V_Universal_Hash SoftSpokenOT V0", b"".join(vals))
    transcript.update(xt.to_bytes(8, "little"))
    transcript.update(h)
    s = le(chacha_stream(tau1, 16))
    recv = b"".join(row_hash(row(lows, highs, j) ^ gf128((j + 1) % 65536, s), j) for j in range(ell))
    choices = bytes((x >> j) & 1 for j in range(ell))

    slows, shighs = punctured_vole(tag, rows)
    for t in range(63):
        c = us[t] ^ x
        if P[t] & 1:
            slows[t] ^= c
        if P[t] & 2:
            shighs[t] ^= c
    d0, d1 = b"", b""
    D = delta()
    for j in range(ell):
        e = row(slows, shighs, j) ^ gf128((j + 1) % 65536, s)
        d0 += row_hash(e, j)
        d1 += row_hash(e ^ D, j)
    for j in range(ell):
        assert recv[16 * j : 16 * j + 16] == (d1 if choices[j] else d0)[16 * j : 16 * j + 16]

    emit(f"{name}_tag", tag)
    emit(f"{name}_tau1", tau1)
    emit(f"{name}_tau2", tau2)
    emit(f"{name}_setup_digest", setup_digest)
    emit(f"{name}_corrections", corr)
    emit(f"{name}_response", xt.to_bytes(8, "little") + h)
    emit(f"{name}_transcript", transcript.digest())
    emit(f"{name}_choices", choices)
    emit(f"{name}_receiver_digests", recv)
    emit(f"{name}_sender_digests0", d0)
    emit(f"{name}_sender_digests1", d1)
    emit(f"{name}_challenges", b"".join(c.to_bytes(8, "little") for c in chi))


cote_vectors(
    "cote1664",
    dk("test cote tag", b"1664"),
    1664,
    dk("test cote tau", b"1"),
    dk("test cote tau", b"2"),
    dk("test cote digest", b""),
)

# ---------------------------------------------------------------- generators

node = dk("test generator input", b"node")
emit("gen_node", node)
emit("gen_doubling", dk("VELTO ote-length doubling prg-v0", node, 64))
emit("gen_tripling", dk("VELTO ote-length tripling prg-v0", node, 96))
emit("gen_vole_prg_tag", dk("test generator input", b"tag"))
emit("gen_vole_prg", dk("VELTO ote-vole prg-v0", dk("test generator input", b"tag") + node, 8 * 27))
digest16 = node[:16]
emit("gen_digest16", digest16)
emit("gen_ote_prg_v1", dk("VELTO ote prg-v1", digest16, 256))
emit("gen_cote_prg", dk("VELTO cote prg-v0", digest16, 64))
emit("gen_uniform_hash", chacha_stream(node, 16))
for j in (0, 1, 1023, 1024, 1663, 2047, 2048, 5000):
    emit(f"row_hash_{j}", keyed(bytes(32), digest16, 16, 64 * (j // 1024)))

with open(OUT, "w") as f:
    f.write("# Generated by gen_ote_vectors.py; one \"name hex\" pair per line.\n")
    f.write("\n".join(lines) + "\n")
print(f"wrote {len(lines)} values to {OUT}")
