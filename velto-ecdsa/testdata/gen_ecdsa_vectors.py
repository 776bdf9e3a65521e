#!/usr/bin/env python3
"""Generates the key-share hash, proof-challenge, Lagrange-coefficient and
extended-key test data files beside this script.

Run once with the project's virtualenv; the outputs are committed and the C++
tests read only them. Hashes come from PyPI's blake3, points from coincurve,
Base58Check and scalar arithmetic from the plain code below, none of which
shares code with the library under test.

    .venv/bin/python velto-ecdsa/testdata/gen_ecdsa_vectors.py
"""

import hashlib
import os
import random
import re

import blake3
import coincurve

HERE = os.path.dirname(os.path.abspath(__file__))
N = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141
B58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"

rng = random.Random(0x5EC9)


def rand_bytes(n):
    return bytes(rng.getrandbits(8) for _ in range(n))


def rand_scalar():
    while True:
        v = int.from_bytes(rand_bytes(32), "big")
        if 0 < v < N:
            return v


def point(secret):
    return coincurve.PublicKey.from_secret(secret.to_bytes(32, "big")).format(compressed=True)


def b58check_encode(payload):
    data = payload + hashlib.sha256(hashlib.sha256(payload).digest()).digest()[:4]
    n = int.from_bytes(data, "big")
    out = ""
    while n:
        n, r = divmod(n, 58)
        out = B58[r] + out
    return "1" * (len(data) - len(data.lstrip(b"\0"))) + out


def b58check_decode(text):
    n = 0
    for c in text:
        n = n * 58 + B58.index(c)
    raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
    raw = b"\0" * (len(text) - len(text.lstrip("1"))) + raw
    payload, check = raw[:-4], raw[-4:]
    assert hashlib.sha256(hashlib.sha256(payload).digest()).digest()[:4] == check
    return payload


# ---------------------------------------------------------------- key-share hash

def keyshare_hash(secret, pub, chain, pid, t, n):
    data = secret.to_bytes(32, "big") + pub + chain + pid.to_bytes(2, "little") + t.to_bytes(2, "little") + n.to_bytes(2, "little")
    assert len(data) == 103  # 32 + 33 + 32 + 3 * 2
    return blake3.blake3(data, derive_key_context="VELTO ECDSA KEYSHARE HASH").digest()


def write_keyshare():
    rows = []
    base = dict(secret=rand_scalar(), pub=point(rand_scalar()), chain=rand_bytes(32), pid=3, t=2, n=5)
    rows.append(("base", base))
    mutations = [
        ("secret", dict(secret=base["secret"] ^ 1)),
        ("public_key", dict(pub=point(rand_scalar()))),
        ("chain_code", dict(chain=base["chain"][:31] + bytes([base["chain"][31] ^ 0x80]))),
        ("party_id", dict(pid=4)),
        ("threshold", dict(t=3)),
        ("num_parties", dict(n=6)),
    ]
    for name, m in mutations:
        r = dict(base)
        r.update(m)
        rows.append((name, r))
    rows.append(("identity_key", dict(base, pub=bytes(33))))
    rows.append(("large_ids", dict(secret=N - 1, pub=point(N - 1), chain=bytes(32), pid=8192, t=8192, n=8192)))
    with open(os.path.join(HERE, "keyshare_hash.txt"), "w") as f:
        f.write("# name secret(32 BE) public_key(33) chain_code(32) party_id threshold num_parties blake3_derive_key\n")
        for name, r in rows:
            h = keyshare_hash(r["secret"], r["pub"], r["chain"], r["pid"], r["t"], r["n"])
            f.write(f"{name} {r['secret']:064x} {r['pub'].hex()} {r['chain'].hex()} {r['pid']} {r['t']} {r['n']} {h.hex()}\n")


# ---------------------------------------------------------------- proof challenge

def write_dlog():
    with open(os.path.join(HERE, "dlog_challenge.txt"), "w") as f:
        f.write("# tag(32) party_id R(33, identity = zeros) X(33) challenge(32 BE, reduced mod n)\n")
        cases = []
        for i in range(6):
            cases.append((rand_bytes(32), rng.randrange(1, 65536), point(rand_scalar()), point(rand_scalar())))
        cases.append((bytes(32), 1, bytes(33), point(1)))
        cases.append((b"\xff" * 32, 65535, point(N - 1), bytes(33)))
        for tag, pid, r, x in cases:
            h = blake3.blake3(tag + pid.to_bytes(2, "little") + r + x, derive_key_context="VELTO ZKPOK DLOG PROOF V0").digest()
            c = int.from_bytes(h, "big")
            if c >= N:
                c -= N
            f.write(f"{tag.hex()} {pid} {r.hex()} {x.hex()} {c:064x}\n")


# ---------------------------------------------------------------- Lagrange coefficients

def coefficient(x, ids, skip):
    num, den = 1, 1
    for j in ids:
        if j == skip:
            continue
        num = num * j % N
        den = den * (j - x) % N
    return num * pow(den, -1, N) % N


def write_lagrange():
    cases = [
        (1, [1, 3]),
        (3, [1, 3]),
        (7, [7]),
        (2, [1, 2, 5]),
        (5, [1, 2, 5]),
        (1, [1, 65535]),
        (65535, [1, 2, 65535]),
        (4, [4, 1, 4, 9]),  # the own id twice contributes nothing
    ]
    ids = sorted(rng.sample(range(1, 65536), 20))
    cases.append((ids[7], ids))
    ids = list(range(1, 11))
    cases += [(i, ids) for i in (1, 5, 10)]
    with open(os.path.join(HERE, "lagrange_coefficients.txt"), "w") as f:
        f.write("# x ids(comma-separated) lambda = prod(j) / prod(j - x) over ids j != x, mod n\n")
        for x, s in cases:
            f.write(f"{x} {','.join(map(str, s))} {coefficient(x, s, x):064x}\n")


# ---------------------------------------------------------------- extended keys

def write_bip32():
    text = open(os.path.join(HERE, "bip32_test_vectors_source.txt")).read()
    chains = []
    vector = None
    path = None
    pub = None
    for line in text.splitlines():
        m = re.match(r"===Test vector (\d)===", line)
        if m:
            vector = int(m.group(1))
        m = re.match(r"\* Chain (\S+)", line)
        if m:
            path = m.group(1).replace("<sub>H</sub>", "H")
        m = re.match(r"\*\* ext pub: (\S+)", line)
        if m:
            pub = m.group(1)
        m = re.match(r"\*\* ext prv: (\S+)", line)
        if m:
            chains.append((vector, path, pub, m.group(1)))
    with open(os.path.join(HERE, "bip32_chains.txt"), "w") as f:
        f.write("# vector path xpub xprv (BIP-0032 test vectors 1 to 4)\n")
        for c in chains:
            f.write(" ".join(map(str, c)) + "\n")

    # Refusals. Vector 5's keys as published, each given to the reader of its
    # text kind, with what that reader reports; then keys built here.
    expect5 = {
        "pubkey version / prvkey mismatch": "InvalidPublicKey",
        "prvkey version / pubkey mismatch": "accept",  # byte 45 is not examined
        "invalid pubkey prefix 04": "InvalidPublicKey",
        "invalid prvkey prefix 04": "accept",
        "invalid pubkey prefix 01": "InvalidPublicKey",
        "invalid prvkey prefix 01": "accept",
        "zero depth with non-zero parent fingerprint": "accept",
        "zero depth with non-zero index": "accept",
        "unknown extended key version": "version:1010101",
        "private key 0 not in 1..n-1": "InvalidPrivateKey",
        "private key n not in 1..n-1": "InvalidPrivateKey",
        "invalid pubkey 020000000000000000000000000000000000000000000000000000000000000007": "InvalidPublicKey",
        "invalid checksum": "InvalidBase58",
    }
    rows = []
    for line in text.splitlines():
        m = re.match(r"\* (\S+) \((.*)\)", line)
        if not m:
            continue
        key, note = m.groups()
        payload = None
        try:
            payload = b58check_decode(key)
        except AssertionError:
            pass
        kind = "xpub" if key.startswith("xpub") else "xprv"
        if payload is not None and payload[:4] not in (bytes.fromhex("0488b21e"), bytes.fromhex("0488ade4")):
            kind = "xprv" if payload[45] == 0 else "xpub"
        rows.append((kind, expect5[note], key, "vector 5: " + note))

    master_pub = b58check_decode(chains[0][2])
    master_prv = b58check_decode(chains[0][3])
    assert len(master_pub) == 78 and len(master_prv) == 78
    rows.append(("xpub", "InvalidPublicKey", b58check_encode(master_pub[:45] + bytes(33)), "identity: 33 zero bytes"))
    rows.append(("xpub", "InvalidPublicKey", b58check_encode(master_pub[:45] + b"\x05" + master_pub[46:]), "compact prefix 05"))
    rows.append(("xpub", "InvalidPublicKey", b58check_encode(master_pub[:45] + b"\x04" + master_pub[46:]), "prefix 04 with a valid x"))
    rows.append(("xpub", "InvalidLength:77", b58check_encode(master_pub[:77]), "77-byte payload"))
    rows.append(("xpub", "InvalidLength:79", b58check_encode(master_pub + b"\x00"), "79-byte payload"))
    rows.append(("xpub", "InvalidLength:0", b58check_encode(b""), "empty payload"))
    rows.append(("xprv", "InvalidLength:77", b58check_encode(master_prv[:77]), "77-byte payload"))
    rows.append(("xprv", "InvalidLength:79", b58check_encode(master_prv + b"\x00"), "79-byte payload"))
    rows.append(("xprv", "InvalidLength:82", b58check_encode(master_prv + bytes(4)), "82-byte payload, the longest the buffer takes"))
    rows.append(("xprv", "InvalidBase58", b58check_encode(master_prv + bytes(5)), "83-byte payload overflows the buffer"))
    rows.append(("xprv", "accept", b58check_encode(master_prv[:45] + b"\x7f" + master_prv[46:]), "non-zero byte at offset 45"))
    rows.append(("xprv", "InvalidPrivateKey", b58check_encode(master_prv[:46] + (N + 1).to_bytes(32, "big")), "private key n + 1"))
    rows.append(("xprv", "accept", b58check_encode(master_prv[:46] + (N - 1).to_bytes(32, "big")), "private key n - 1"))
    rows.append(("xprv", "version:488B21E", chains[0][2], "an xpub given to the xprv reader"))
    rows.append(("xpub", "version:488ADE4", chains[0][3], "an xprv given to the xpub reader"))
    rows.append(("xpub", "InvalidBase58", chains[0][2][:-1] + "0", "character outside the alphabet"))
    rows.append(("xprv", "InvalidBase58", chains[0][3][:-1] + "l", "character outside the alphabet"))
    rows.append(("xpub", "InvalidBase58", "", "empty text (no checksum)"))
    with open(os.path.join(HERE, "bip32_refusals.txt"), "w") as f:
        f.write("# reader expected text | note\n")
        f.write("# expected: accept, InvalidBase58, InvalidLength:<n>, version:<found, upper-case hex>, InvalidPublicKey, InvalidPrivateKey\n")
        for kind, exp, key, note in rows:
            f.write(f"{kind} {exp} {key if key else '-'} | {note}\n")


if __name__ == "__main__":
    write_keyshare()
    write_dlog()
    write_lagrange()
    write_bip32()
