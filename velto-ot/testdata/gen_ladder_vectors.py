#!/usr/bin/env python3
"""Generates ladder_vectors.txt and curve_twist_vectors.txt.

A reference for the x-only ladder in plain integers, run once; its output is
committed and the tests never run Python.

The reference does not use the ladder formulas: it lifts u to a full point
(u, v) of the Montgomery curve B v^2 = u^3 + A u^2 + u, with B = 1 for
Curve25519 and B = 2 (a non-square) for the quadratic twist, and multiplies
by affine double-and-add. A separate x-only ladder in the RFC 7748 form must
agree with it on every case before anything is written.

Formats (hex, one case per line):
  ladder_vectors.txt:      u (32 bytes LE) k (32 bytes BE) result (32 bytes LE) group
  curve_twist_vectors.txt: u (32 bytes LE) 1 if u is on Curve25519 else 0
"""

import os
import random

P = 2**255 - 19
A = 486662
L = 2**252 + 27742317777372353535851937790883648493  # prime order of the curve subgroup
D = (-121665 * pow(121666, P - 2, P)) % P
SQRT_M1 = pow(2, (P - 1) // 4, P)
ORDER_CURVE = 8 * L
ORDER_TWIST = 2 * (P + 1) - ORDER_CURVE


def legendre(a):
    return pow(a % P, (P - 1) // 2, P)


def is_square(a):
    return legendre(a) in (0, 1)


def sqrt(a):
    a %= P
    r = pow(a, (P + 3) // 8, P)
    if r * r % P != a:
        r = r * SQRT_M1 % P
    assert r * r % P == a
    return r


def rhs(u):
    return (u * u * u + A * u * u + u) % P


def on_curve(u):
    return is_square(rhs(u))


def read_u(b):
    v = int.from_bytes(b, "little") & ((1 << 255) - 1)
    return v % P


def read_k(b):
    return int.from_bytes(b, "big") & ((1 << 255) - 1)


# --- affine arithmetic on B v^2 = u^3 + A u^2 + u; None is infinity ---

def add(p1, p2, b):
    if p1 is None:
        return p2
    if p2 is None:
        return p1
    (x1, y1), (x2, y2) = p1, p2
    if x1 == x2:
        if (y1 + y2) % P == 0:
            return None
        lam = (3 * x1 * x1 + 2 * A * x1 + 1) * pow(2 * b * y1, P - 2, P) % P
    else:
        lam = (y2 - y1) * pow(x2 - x1, P - 2, P) % P
    x3 = (b * lam * lam - A - x1 - x2) % P
    y3 = (lam * (x1 - x3) - y1) % P
    return (x3, y3)


def mul_affine(u, k):
    b = 1 if on_curve(u) else 2
    v = sqrt(rhs(u) * pow(b, P - 2, P))
    point = (u, v)
    acc = None
    for i in reversed(range(k.bit_length())):
        acc = add(acc, acc, b)
        if (k >> i) & 1:
            acc = add(acc, point, b)
    return 0 if acc is None else acc[0]


# --- the x-only ladder, RFC 7748 form, as a cross-check of the above ---

def mul_ladder(u, k):
    x1, x2, z2, x3, z3, swap = u, 1, 0, u, 1, 0
    for t in reversed(range(255)):
        bit = (k >> t) & 1
        swap ^= bit
        if swap:
            x2, x3, z2, z3 = x3, x2, z3, z2
        swap = bit
        a, b = (x2 + z2) % P, (x2 - z2) % P
        aa, bb = a * a % P, b * b % P
        e = (aa - bb) % P
        c, d = (x3 + z3) % P, (x3 - z3) % P
        da, cb = d * a % P, c * b % P
        x3 = (da + cb) ** 2 % P
        z3 = x1 * (da - cb) ** 2 % P
        x2 = aa * bb % P
        z2 = e * (aa + 121665 * e) % P
    if swap:
        x2, z2 = x3, z3
    return x2 * pow(z2, P - 2, P) % P


def edwards_image(u):
    """The rule of the curve/twist test: u != -1 and y = (u-1)/(u+1) decodes."""
    if (u + 1) % P == 0:
        return False
    y = (u - 1) * pow(u + 1, P - 2, P) % P
    num = (y * y - 1) % P
    den = (D * y * y + 1) % P
    return is_square(num * pow(den, P - 2, P))


def le(x):
    return x.to_bytes(32, "little")


def be(x):
    return x.to_bytes(32, "big")


def main():
    rng = random.Random(0x5EED_0B7)

    def random_u(want_curve):
        while True:
            u = rng.randrange(P)
            if on_curve(u) == want_curve:
                return le(u)

    def random_k():
        return rng.randbytes(32)  # top bit set half of the time: it is ignored

    cases = []  # (u bytes, k bytes)
    for _ in range(12):
        cases.append((random_u(True), random_k()))
    for _ in range(12):
        cases.append((random_u(False), random_k()))
    # The base points with unclamped and special scalars.
    special_k = [0, 1, 2, 3, 7, 8, L, 4 * L, ORDER_TWIST, ORDER_TWIST + 1, ORDER_TWIST // 4,
                 2**254, 2**255 - 1]
    for k in special_k:
        for u in (6, 3):
            cases.append((le(u), be(k)))
    cases.append((le(6), be(2**255 - 1 + 2**255)))  # top bit of k[0] ignored: same as 2^255 - 1
    # Edge u values, including non-canonical ones and bit 255 set.
    edge_u = [
        le(0), le(1), le(2), le(P - 1), le(P), le(P + 1), le(P + 6), le(2**255 - 1),
        le(6 + 2**255), le(3 + 2**255),
    ]
    for u in edge_u:
        cases.append((u, be(rng.getrandbits(255))))
        cases.append((u, be(1)))

    ladder_lines = []
    for ub, kb in cases:
        u, k = read_u(ub), read_k(kb)
        ref = mul_affine(u, k)
        assert ref == mul_ladder(u, k), (ub.hex(), kb.hex())
        group = "curve" if on_curve(u) else "twist"
        ladder_lines.append(f"{ub.hex()} {kb.hex()} {le(ref).hex()} {group}")

    twist_lines = []
    curve_cases = [random_u(True) for _ in range(16)] + [random_u(False) for _ in range(16)]
    curve_cases += [le(0), le(1), le(3), le(6), le(9), le(P - 1), le(P), le(P + 1), le(P + 6),
                    le(P - 1 + 2**255), le(2**255 - 1), le(6 + 2**255), le(3 + 2**255)]
    for ub in curve_cases:
        u = read_u(ub)
        expected = edwards_image(u)
        # The Montgomery-side rule agrees everywhere except at u = -1.
        if u != P - 1:
            assert expected == on_curve(u), ub.hex()
        twist_lines.append(f"{ub.hex()} {int(expected)}")

    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "ladder_vectors.txt"), "w") as f:
        f.write("# u(le) k(be) k*u(le) group; generated by gen_ladder_vectors.py\n")
        f.write("\n".join(ladder_lines) + "\n")
    with open(os.path.join(here, "curve_twist_vectors.txt"), "w") as f:
        f.write("# u(le) has_edwards_image; generated by gen_ladder_vectors.py\n")
        f.write("\n".join(twist_lines) + "\n")
    print(f"{len(ladder_lines)} ladder cases, {len(twist_lines)} curve/twist cases;"
          f" -1 on curve: {on_curve(P - 1)}")


if __name__ == "__main__":
    main()
