#!/usr/bin/env python3
"""Generates the edwards25519 and ristretto255 test data files beside this script.

Run once with the project's virtualenv; the outputs are committed and the C++
tests read only them. Every value is computed by the plain big-integer
reference arithmetic below (straight from the curve equations), which shares
no code with the library under test.

    .venv/bin/python crypto/testdata/ed25519_gen_vectors.py
"""

import math
import os
import random

P = 2**255 - 19
L = 2**252 + 27742317777372353535851937790883648493
D = (-121665 * pow(121666, -1, P)) % P
SQRT_M1 = pow(2, (P - 1) // 4, P)


def inv(x):
    return pow(x, P - 2, P)


def is_negative(x):
    return (x % P) & 1


def ct_abs(x):
    x %= P
    return (P - x) % P if is_negative(x) else x


def sqrt_ratio_m1(u, v):
    u %= P
    v %= P
    r = (u * pow(v, 3, P)) * pow(u * pow(v, 7, P), (P - 5) // 8, P) % P
    check = v * r * r % P
    correct = check == u
    flipped = check == (-u) % P
    flipped_i = check == (-u * SQRT_M1) % P
    if flipped or flipped_i:
        r = r * SQRT_M1 % P
    return (correct or flipped), ct_abs(r)


# Points in extended coordinates (X, Y, Z, T), curve -x^2 + y^2 = 1 + d x^2 y^2.
IDENTITY = (0, 1, 1, 0)


def add(p1, p2):
    x1, y1, z1, t1 = p1
    x2, y2, z2, t2 = p2
    a = (y1 - x1) * (y2 - x2) % P
    b = (y1 + x1) * (y2 + x2) % P
    c = 2 * D * t1 * t2 % P
    dd = 2 * z1 * z2 % P
    e, f, g, h = b - a, dd - c, dd + c, b + a
    return (e * f % P, g * h % P, f * g % P, e * h % P)


def neg(pt):
    x, y, z, t = pt
    return ((-x) % P, y, z, (-t) % P)


def mul(k, pt):
    acc = IDENTITY
    while k > 0:
        if k & 1:
            acc = add(acc, pt)
        pt = add(pt, pt)
        k >>= 1
    return acc


def affine(pt):
    x, y, z, _ = pt
    zi = inv(z)
    return x * zi % P, y * zi % P


def ed_eq(p1, p2):
    return affine(p1) == affine(p2)


def ed_encode(pt):
    x, y = affine(pt)
    return (y | ((x & 1) << 255)).to_bytes(32, "little")


def recover_x(y, sign):
    """x for y, or None when no point has that y."""
    u = (y * y - 1) % P
    v = (D * y * y + 1) % P
    ok, x = sqrt_ratio_m1(u, v)
    if not ok:
        return None
    if x == 0 and sign:
        return None
    if (x & 1) != sign:
        x = P - x
    return x


def ed_decode_strict(b):
    """Canonical, on the curve, no negative zero (torsion not checked)."""
    n = int.from_bytes(b, "little")
    y, sign = n & ((1 << 255) - 1), n >> 255
    if y >= P:
        return None
    x = recover_x(y, sign)
    if x is None:
        return None
    return (x, y, 1, x * y % P)


BY = 4 * inv(5) % P
B = (recover_x(BY, 0), BY, 1, recover_x(BY, 0) * BY % P)
assert ed_eq(mul(L, B), IDENTITY)


def in_subgroup(pt):
    return ed_eq(mul(L, pt), IDENTITY)


# ---- ristretto255 ----------------------------------------------------------

# The published constants; each is one of two roots, so pin the value and
# check that it is a root.
INVSQRT_A_MINUS_D = 54469307008909316920995813868745141605393597292927456921205312896311721017578
SQRT_AD_MINUS_ONE = 25063068953384623474111414158702152701244531502492656460079210482610430750235
assert INVSQRT_A_MINUS_D**2 * (-1 - D) % P == 1
assert SQRT_AD_MINUS_ONE**2 % P == (-D - 1) % P
ONE_MINUS_D_SQ = (1 - D * D) % P
D_MINUS_ONE_SQ = (D - 1) * (D - 1) % P


def r_decode(b):
    s = int.from_bytes(b, "little")
    if s >= P or is_negative(s):
        return None
    ss = s * s % P
    u1 = (1 - ss) % P
    u2 = (1 + ss) % P
    u2_sqr = u2 * u2 % P
    v = (-(D * u1 * u1) - u2_sqr) % P
    was_square, invsqrt = sqrt_ratio_m1(1, v * u2_sqr)
    den_x = invsqrt * u2 % P
    den_y = invsqrt * den_x * v % P
    x = ct_abs(2 * s * den_x)
    y = u1 * den_y % P
    t = x * y % P
    if not was_square or is_negative(t) or y == 0:
        return None
    return (x, y, 1, t)


def r_encode(pt):
    x0, y0, z0, t0 = pt
    u1 = (z0 + y0) * (z0 - y0) % P
    u2 = x0 * y0 % P
    _, invsqrt = sqrt_ratio_m1(1, u1 * u2 * u2)
    den1 = invsqrt * u1 % P
    den2 = invsqrt * u2 % P
    z_inv = den1 * den2 * t0 % P
    ix0 = x0 * SQRT_M1 % P
    iy0 = y0 * SQRT_M1 % P
    enchanted = den1 * INVSQRT_A_MINUS_D % P
    rotate = is_negative(t0 * z_inv)
    x, y = (iy0, ix0) if rotate else (x0, y0)
    den_inv = enchanted if rotate else den2
    if is_negative(x * z_inv):
        y = (-y) % P
    s = ct_abs(den_inv * (z0 - y))
    return s.to_bytes(32, "little")


def r_map(t):
    r = SQRT_M1 * t * t % P
    u = (r + 1) * ONE_MINUS_D_SQ % P
    v = (-1 - r * D) * (r + D) % P
    was_square, s = sqrt_ratio_m1(u, v)
    s_prime = (-ct_abs(s * t)) % P
    s = s if was_square else s_prime
    c = (P - 1) if was_square else r
    n = (c * (r - 1) * D_MINUS_ONE_SQ - v) % P
    w0 = 2 * s * v % P
    w1 = n * SQRT_AD_MINUS_ONE % P
    w2 = (1 - s * s) % P
    w3 = (1 + s * s) % P
    return (w0 * w3 % P, w2 * w1 % P, w1 * w3 % P, w0 * w2 % P)


def r_from_uniform(b):
    t1 = int.from_bytes(b[:32], "little") & ((1 << 255) - 1)
    t2 = int.from_bytes(b[32:], "little") & ((1 << 255) - 1)
    return add(r_map(t1 % P), r_map(t2 % P))


# ---- output -----------------------------------------------------------------

HERE = os.path.dirname(os.path.abspath(__file__))
rng = random.Random(25519)


def h(b):
    return b.hex()


def le(n):
    return n.to_bytes(32, "little")


def rand_scalar():
    return rng.randrange(1, L)


def write(name, header, lines):
    with open(os.path.join(HERE, name), "w") as f:
        for c in header:
            f.write("# " + c + "\n")
        for ln in lines:
            f.write(ln + "\n")


def gen_ed25519_decode():
    lines = []
    # Torsion subgroup: a point of order exactly 8 and its multiples.
    t8 = None
    y = 2
    while t8 is None:
        pt = ed_decode_strict(le(y))
        y += 1
        if pt is None:
            continue
        cand = mul(L, pt)
        if not ed_eq(mul(4, cand), IDENTITY):
            t8 = cand
    torsion = [mul(i, t8) for i in range(8)]
    assert ed_eq(torsion[0], IDENTITY)

    lines.append("valid " + h(ed_encode(IDENTITY)) + " identity")
    lines.append("valid " + h(ed_encode(B)) + " base")
    for _ in range(4):
        lines.append("valid " + h(ed_encode(mul(rand_scalar(), B))) + " subgroup")
    lines.append("valid " + h(ed_encode(mul(L - 1, B))) + " minus_base")

    for i in range(1, 8):
        order = 8 // math.gcd(i, 8)
        lines.append("invalid " + h(ed_encode(torsion[i])) + f" torsion_order_{order}")
    for i in range(1, 8):
        lines.append("invalid " + h(ed_encode(add(B, torsion[i]))) + " base_plus_torsion")
    mixed = add(mul(rand_scalar(), B), torsion[1])
    lines.append("invalid " + h(ed_encode(mixed)) + " point_plus_torsion")

    # Negative zero: x = 0 with the sign bit set (identity and the order-2 point).
    lines.append("invalid " + h(le(1 | (1 << 255))) + " identity_negative_zero")
    lines.append("invalid " + h(le((P - 1) | (1 << 255))) + " order2_negative_zero")

    # Non-canonical y (y >= p), both signs. Note which ones would be a valid
    # subgroup point if the encoding were reduced.
    for k in range(0, 19):
        for sign in (0, 1):
            y_nc = P + k
            pt = ed_decode_strict(le(k | (sign << 255)))
            tag = "noncanonical_y"
            if pt is not None and in_subgroup(pt):
                tag = "noncanonical_y_of_subgroup_point"
            lines.append("invalid " + h(le(y_nc | (sign << 255))) + " " + tag)

    # Not on the curve: y for which no x exists.
    n = 0
    y = 2
    while n < 4:
        if recover_x(y, 0) is None:
            lines.append("invalid " + h(le(y)) + " not_on_curve")
            n += 1
        y += 1
    for _ in range(2):
        while True:
            y = rng.randrange(P)
            if recover_x(y, 0) is None:
                lines.append("invalid " + h(le(y)) + " not_on_curve")
                break

    # Sanity of the reference's own verdicts.
    for ln in lines:
        verdict, hx, _ = ln.split()
        pt = ed_decode_strict(bytes.fromhex(hx))
        ok = pt is not None and in_subgroup(pt)
        assert ok == (verdict == "valid"), ln
    write("ed25519_decode.txt",
          ["edwards25519 point decoding: valid|invalid <encoding> <kind>"], lines)


def gen_ed25519_ops():
    lines = []
    specials = [0, 1, 2, L - 1, L - 2]
    # base <k> <k*B>
    for k in specials + [rand_scalar() for _ in range(4)]:
        lines.append(f"base {h(le(k))} {h(ed_encode(mul(k, B)))}")
    # mul <k> <P> <k*P>
    pts = [mul(rand_scalar(), B) for _ in range(3)]
    for k in specials + [rand_scalar() for _ in range(3)]:
        for pt in pts[:2]:
            lines.append(f"mul {h(le(k))} {h(ed_encode(pt))} {h(ed_encode(mul(k, pt)))}")
    lines.append(f"mul {h(le(rand_scalar()))} {h(ed_encode(IDENTITY))} {h(ed_encode(IDENTITY))}")
    # add <P> <Q> <P+Q> <P-Q>
    pairs = [(pts[0], pts[1]), (pts[1], pts[2]), (pts[0], pts[0]), (pts[0], neg(pts[0])),
             (IDENTITY, pts[2]), (pts[2], IDENTITY), (B, B)]
    for a, b in pairs:
        lines.append(f"add {h(ed_encode(a))} {h(ed_encode(b))} "
                     f"{h(ed_encode(add(a, b)))} {h(ed_encode(add(a, neg(b))))}")
    # multi <n> (<k> <P>)*n <sum>
    for n in (1, 3, 5):
        ks = [rand_scalar() for _ in range(n)]
        ps = [mul(rand_scalar(), B) for _ in range(n)]
        if n == 5:
            ks[2] = 0
            ps[4] = IDENTITY
        acc = IDENTITY
        for k, pt in zip(ks, ps):
            acc = add(acc, mul(k, pt))
        fields = " ".join(f"{h(le(k))} {h(ed_encode(pt))}" for k, pt in zip(ks, ps))
        lines.append(f"multi {n} {fields} {h(ed_encode(acc))}")
    write("ed25519_ops.txt",
          ["edwards25519 group operations, values from big-integer reference arithmetic",
           "base <k> <k*B> | mul <k> <P> <k*P> | add <P> <Q> <P+Q> <P-Q>",
           "multi <n> then n pairs <k> <P>, then the sum of k*P"], lines)


def gen_ristretto_ops():
    lines = []
    pts = [mul(rand_scalar(), B) for _ in range(3)]
    specials = [0, 1, L - 1]
    for k in specials + [rand_scalar() for _ in range(3)]:
        lines.append(f"base {h(le(k))} {h(r_encode(mul(k, B)))}")
    for k in specials + [rand_scalar() for _ in range(3)]:
        pt = pts[0]
        lines.append(f"mul {h(le(k))} {h(r_encode(pt))} {h(r_encode(mul(k, pt)))}")
    lines.append(f"mul {h(le(rand_scalar()))} {h(r_encode(IDENTITY))} {h(r_encode(IDENTITY))}")
    pairs = [(pts[0], pts[1]), (pts[1], pts[2]), (pts[0], pts[0]), (pts[0], neg(pts[0])),
             (IDENTITY, pts[2])]
    for a, b in pairs:
        lines.append(f"add {h(r_encode(a))} {h(r_encode(b))} "
                     f"{h(r_encode(add(a, b)))} {h(r_encode(add(a, neg(b))))}")
    # Ristretto encodings of P + T for a 4-torsion T are the same as for P.
    t4 = None
    y = 2
    while t4 is None:
        pt = ed_decode_strict(le(y))
        y += 1
        if pt is None:
            continue
        cand = mul(2 * L, pt)
        if not ed_eq(mul(2, cand), IDENTITY):
            t4 = cand
    assert r_encode(add(pts[0], t4)) == r_encode(pts[0])
    # uniform <64 bytes> <encoding>
    for _ in range(4):
        b = bytes(rng.randrange(256) for _ in range(64))
        lines.append(f"uniform {h(b)} {h(r_encode(r_from_uniform(b)))}")
    # Every encoding written decodes again under the reference decoder.
    for ln in lines:
        for f in ln.split()[1:]:
            if len(f) == 64 and not ln.startswith(("base", "mul")):
                assert r_decode(bytes.fromhex(f)) is not None, ln
    write("ristretto_ops.txt",
          ["ristretto255 group operations, values from big-integer reference arithmetic",
           "base <k> <k*B> | mul <k> <P> <k*P> | add <P> <Q> <P+Q> <P-Q>",
           "uniform <64 bytes> <point from the two-map hash-to-group>"], lines)


def check_rfc_ristretto():
    """Cross-checks the reference against the published base multiples."""
    first = [
        "0000000000000000000000000000000000000000000000000000000000000000",
        "e2f2ae0a6abc4e71a884a961c500515f58e30b6aa582dd8db6a65945e08d2d76",
        "6a493210f7499cd17fecb510ae0cea23a110e8d5b901f8acadd3095c73a3b919",
    ]
    for i, e in enumerate(first):
        assert h(r_encode(mul(i, B))) == e, i
        if i:
            assert r_decode(bytes.fromhex(e)) is not None
    digest = bytes.fromhex(
        "5d1be09e3d0c82fc538112490e35701979d99e06ca3e2b5b54bffe8b4dc772c1"
        "4d98b696a1bbfb5ca32c436cc61c16563790306c79eaca7705668b47dffe5bb6")
    assert h(r_encode(r_from_uniform(digest))) == \
        "3066f82a1a747d45120d1740f14358531a8f04bbffe6a819f86dfe50f44a0a46"


if __name__ == "__main__":
    check_rfc_ristretto()
    gen_ed25519_decode()
    gen_ed25519_ops()
    gen_ristretto_ops()
    print("ok")
