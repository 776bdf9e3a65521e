#!/usr/bin/env python3
"""The random-VOLE gadget table and reference values, computed once with
plain Python integers and the PyPI blake3 package.

- Prints the gadget table (512 lines of 64 hex digits) with --table; that
  output is the constant table compiled into rvole_gadget.cpp.
- Otherwise writes rvole_vectors.txt next to this script: one "name hex"
  pair per line. The tests read that file; they never run this script.

Run: /work/main/.venv/bin/python gen_rvole_vectors.py [--table]
"""

import os
import sys

import blake3

N = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141

# The gadget: entries 0..3, 510 and 511 are fixed; the others are
# consecutive 32-byte blocks of the extendable output of BLAKE3 derive-key
# under "Velto ECDSA RVOLE Gadget Vector V0" over the empty input, entry i
# at bytes 32i .. 32i + 31, read big-endian and reduced once modulo n.
FIXED = {
    0: 0x940B469F685058C9858A39F824B9110508D11093A6BB34FC9FD449F2FC7ACEA0,
    1: 0xF949D472922D9927CA8149B15A203E2B63299C4B11D5FF6220F59C4051D17AC6,
    2: 0x0F84A3865EA8C3662BE35DB96FB4C077EEFC4BD00BBE4C4A7FB7371C546E33DE,
    3: 0xFF429EB0B4BFE3500348A476EE54D0FB0EECD8FD3B9295D85B13838C3400EBBF,
    510: 0xF76237D06F8094C5EB43217E43A97CFB0FDF80F51D9A94790A56D179317DBE9B,
    511: 0x12A708D39B631D8DEFE9E971CDBDBA10230F01A582D43F66CB0827BC03D2A8C5,
}


def reduce_once(v):
    return v - N if v >= N else v


def gadget():
    stream = blake3.blake3(b"", derive_key_context="Velto ECDSA RVOLE Gadget Vector V0").digest(length=32 * 512)
    out = []
    for i in range(512):
        if i in FIXED:
            out.append(FIXED[i])
        else:
            out.append(reduce_once(int.from_bytes(stream[32 * i : 32 * i + 32], "big")))
    return out


G = gadget()
assert all(g < N for g in G)

if "--table" in sys.argv:
    for g in G:
        print(f'    "{g:064x}",')
    sys.exit(0)

lines = []


def emit(name, value):
    lines.append(f"{name} {bytes(value).hex()}")


def be(s):
    return s.to_bytes(32, "big")


def dk(context, data, length=32):
    return blake3.blake3(data, derive_key_context=context).digest(length=length)


# Test inputs: `count` scalars from derive-key "test rvole scalars" over the
# label (the tests rebuild the random-OT matrices this way).
def scalars(label, count):
    stream = dk("test rvole scalars", label.encode(), 32 * count)
    return [reduce_once(int.from_bytes(stream[32 * i : 32 * i + 32], "big")) for i in range(count)]


def varint(n):
    if n <= 251:
        return bytes([n])
    for k, marker in ((1, 0xFC), (2, 0xFD), (3, 0xFE), (4, 0xFF)):
        if n < 1 << (8 * k):
            return bytes([marker]) + n.to_bytes(k, "little")
    raise ValueError(n)


def theta_ro(tag, values, w):
    h = blake3.blake3(derive_key_context="Velto ECDSA RVOLE RO Theta Function V0")
    h.update(tag)
    for v in values:
        h.update(be(v))
    out = h.digest(length=64 * (w - 2))
    return [
        (reduce_once(int.from_bytes(out[64 * j : 64 * j + 32], "big")),
         reduce_once(int.from_bytes(out[64 * j + 32 : 64 * j + 64], "big")))
        for j in range(w - 2)
    ]


def binary_ro(tag, rows):
    h = blake3.blake3(derive_key_context="Velto ECDSA RVOLE RO Binary Function V0")
    h.update(tag)
    for m0, m1 in rows:
        h.update(be(m0) + be(m1))
    return h.digest()


# Scalar expansion of a random-OT digest: 32-byte halves of consecutive
# 64-byte blocks of derive-key "VELTO ote prg-v1", each reduced once.
def expand(digest, w):
    blocks = (w + 1) // 2
    out = dk("VELTO ote prg-v1", digest, 64 * blocks)
    return [reduce_once(int.from_bytes(out[32 * i : 32 * i + 32], "big")) for i in range(w)]


for w in (4, 5):
    d = dk("test rvole digest", bytes([w]), 16)
    emit(f"expand{w}_digest", d)
    emit(f"expand{w}_scalars", b"".join(be(s) for s in expand(d, w)))


def vole(k):
    w = 2 * k + 2
    name = f"rvole_k{k}"
    tag = dk("test rvole tag", bytes([k]))
    V0 = [scalars(f"{name} v0 row {j}", w) for j in range(512)]
    V1 = [scalars(f"{name} v1 row {j}", w) for j in range(512)]
    X = scalars(f"{name} x", k)
    Y = scalars(f"{name} y", k)
    r0, r1 = scalars(f"{name} r", 2)
    a = []
    for i in range(k):
        a += [X[i], Y[i]]
    a += [r0, r1]

    shares = [(-sum(G[j] * V0[j][h] for j in range(512))) % N for h in range(2 * k)]
    tau = [(V0[j][h] - V1[j][h] + a[h]) % N for j in range(512) for h in range(w)]
    theta = theta_ro(tag, tau, w)
    eta0 = (r0 + sum(theta[h][0] * a[h] for h in range(2 * k))) % N
    eta1 = (r1 + sum(theta[h][1] * a[h] for h in range(2 * k))) % N
    rows = []
    for j in range(512):
        m0 = (V0[j][2 * k] + sum(theta[h][0] * V0[j][h] for h in range(2 * k))) % N
        m1 = (V0[j][2 * k + 1] + sum(theta[h][1] * V0[j][h] for h in range(2 * k))) % N
        rows.append((m0, m1))
    mu = binary_ro(tag, rows)
    message = w.to_bytes(4, "little") + varint(512 * w) + b"".join(be(t) for t in tau) + be(eta0) + be(eta1) + mu

    beta = [dk("test rvole choices", bytes([k]) + j.to_bytes(2, "little"))[0] & 1 for j in range(512)]
    Ysel = [V1[j] if beta[j] else V0[j] for j in range(512)]
    b = sum(G[j] for j in range(512) if beta[j]) % N
    D = [[(Ysel[j][h] + beta[j] * tau[j * w + h]) % N for h in range(w)] for j in range(512)]
    dshares = [sum(G[j] * D[j][h] for j in range(512)) % N for h in range(2 * k)]
    for h in range(2 * k):
        assert (shares[h] + dshares[h]) % N == (a[h] * b) % N

    emit(f"{name}_tag", tag)
    emit(f"{name}_x", b"".join(be(s) for s in X))
    emit(f"{name}_y", b"".join(be(s) for s in Y))
    emit(f"{name}_r", be(r0) + be(r1))
    emit(f"{name}_shares", b"".join(be(s) for s in shares))
    emit(f"{name}_theta", b"".join(be(t0) + be(t1) for t0, t1 in theta))
    emit(f"{name}_message_head", message[:8])
    emit(f"{name}_message_tail", message[-96:])
    emit(f"{name}_message_digest", blake3.blake3(message).digest())
    emit(f"{name}_message_size", len(message).to_bytes(4, "little"))
    emit(f"{name}_choices", bytes(beta))
    emit(f"{name}_b", be(b))
    emit(f"{name}_receiver_shares", b"".join(be(s) for s in dshares))


vole(1)
vole(2)

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rvole_vectors.txt")
with open(out, "w") as f:
    f.write("# Generated by gen_rvole_vectors.py; one \"name hex\" pair per line.\n")
    f.write("\n".join(lines) + "\n")
print(f"wrote {len(lines)} values to {out}")
