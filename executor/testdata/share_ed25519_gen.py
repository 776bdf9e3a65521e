#!/usr/bin/env python3
"""Generates share_ed25519_records.txt beside this script.

Run once with the project's virtualenv; the output is committed and the C++
tests read only it. Every record is assembled byte by byte from the record
layouts (tag or variant, fields, transport key, party map). The edwards25519
arithmetic and the spub derivation come from the independent implementation
in ../../velto-frost-ed25519/testdata/spub_gen.py, the secp256k1 commitment
from coincurve, the X25519 public keys from PyNaCl and the V1 -> V2 chain
code from PyPI blake3. Nothing here shares code with the library.

    .venv/bin/python executor/testdata/share_ed25519_gen.py
"""

import os
import random
import sys

import blake3
import coincurve
import nacl.bindings

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "velto-frost-ed25519", "testdata"))
import spub_gen as ed  # noqa: E402

N_SECP = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141
CHAIN_CODE_CONTEXT = "Ed25519 SecretShareV1->V2 chaincode"

rng = random.Random(0xED25519)


def rand_bytes(n):
    return bytes(rng.getrandbits(8) for _ in range(n))


def u16(v):
    return v.to_bytes(2, "little")


def u32(v):
    return v.to_bytes(4, "little")


def u64(v):
    return v.to_bytes(8, "little")


def varint(v):
    if v <= 251:
        return bytes([v])
    for k, marker in ((1, 0xFC), (2, 0xFD), (3, 0xFE), (4, 0xFF)):
        if v < 1 << (8 * k):
            return bytes([marker]) + v.to_bytes(k, "little")
    raise ValueError(v)


def le32(v):
    return v.to_bytes(32, "little")


def x25519_public(private):
    return nacl.bindings.crypto_scalarmult_base(private)


def counted_map(entries):
    return u64(len(entries)) + b"".join(u16(i) + k for i, k in entries)


def sorted_map(entries):
    return varint(len(entries)) + b"".join(u16(i) + k for i, k in sorted(entries))


def id_list(m):
    return ",".join("%d:%s" % (i, v.hex()) for i, v in sorted(m.items()))


# One 2-of-3 key: x = a0, share_i = a0 + a1*i (mod l).
A0 = rng.randrange(1, ed.L)
A1 = rng.randrange(1, ed.L)
SHARES = {i: (A0 + A1 * i) % ed.L for i in (1, 2, 3)}
PUB = ed.compress(ed.base_mul(A0))
V2_CHAIN_CODE = blake3.blake3(PUB, derive_key_context=CHAIN_CODE_CONTEXT).digest()[:32]
OWN = 2
SECRET = SHARES[OWN]
TRANSPORT = rand_bytes(32)
MAP = [(1, x25519_public(rand_bytes(32))), (3, x25519_public(rand_bytes(32)))]
PATHS = [[], [0, 1, 2], [2**31 - 1, 7]]


def common_fields(chain_code):
    return [
        ("pubkey", PUB.hex()),
        ("chain_code", chain_code.hex()),
        ("secret", le32(SECRET).hex()),
        ("group_secret", le32(A0).hex()),
        ("shares", id_list({i: le32(s) for i, s in SHARES.items()})),
        ("party_id", str(OWN)),
        ("threshold", "2"),
        ("num_parties", "3"),
        ("transport_private", TRANSPORT.hex()),
        ("transport_public", x25519_public(TRANSPORT).hex()),
        ("map", id_list(dict(MAP))),
    ]


def derive_lines(chain_code):
    out = []
    for path in PATHS:
        point, cc, depth, fp, child, tweak = ed.derive(ed.decompress(PUB), chain_code, path)
        out.append(("derive", "%s %s %s %s %d %s %d" % (
            "/".join(map(str, path)) or "-", le32((SECRET + tweak) % ed.L).hex(), ed.compress(point).hex(),
            cc.hex(), depth, fp.hex(), child)))
    return out


def block(name, record, fields, canonical=None):
    lines = ["name " + name, "record " + record.hex()]
    lines.append("canonical " + (canonical or record).hex())
    lines += ["%s %s" % kv for kv in fields]
    return "\n".join(lines)


def v1_body():
    return PUB + le32(SECRET) + u16(OWN) + u16(2) + u16(3)


def v2_body(chain_code):
    return PUB + chain_code + le32(SECRET) + u16(OWN) + u16(2) + u16(3)


def main():
    blocks = []

    v1 = u32(0) + v1_body() + TRANSPORT + counted_map(MAP)
    blocks.append(block("ed_v1", v1, [("tag", "0")] + common_fields(V2_CHAIN_CODE) + derive_lines(V2_CHAIN_CODE)))
    v1_reordered = u32(0) + v1_body() + TRANSPORT + counted_map(list(reversed(MAP)))
    blocks.append(block("ed_v1_map_out_of_order", v1_reordered, [("tag", "0")] + common_fields(V2_CHAIN_CODE), v1))

    v2 = u32(1) + v2_body(V2_CHAIN_CODE) + TRANSPORT + counted_map(MAP)
    blocks.append(block("ed_v2", v2, [("tag", "1")] + common_fields(V2_CHAIN_CODE) + derive_lines(V2_CHAIN_CODE)))

    latest_cc = rand_bytes(32)
    latest = u32(2) + v2_body(latest_cc) + TRANSPORT + sorted_map(MAP)
    blocks.append(block("ed_latest", latest, [("tag", "2")] + common_fields(latest_cc) + derive_lines(latest_cc)))
    latest_empty = u32(2) + v2_body(latest_cc) + TRANSPORT + sorted_map([])
    blocks.append(block("ed_latest_empty_map", latest_empty, [("tag", "2")] + common_fields(latest_cc)[:-1] +
                        [("map", "")]))

    # Exportable: the seed sharing is a 2-of-3 Shamir sharing of some m over
    # the secp256k1 scalars; commitment m*G.
    m = rng.randrange(1, N_SECP)
    b1 = rng.randrange(1, N_SECP)
    seed_shares = {i: (m + b1 * i) % N_SECP for i in (1, 2, 3)}
    commitment = coincurve.PublicKey.from_secret(m.to_bytes(32, "big")).format(compressed=True)
    for name, seed_id in (("exportable", OWN), ("exportable_ids_differ", 1)):
        seed_share = seed_shares[seed_id].to_bytes(32, "big")
        record = (varint(0) + seed_share + u16(seed_id) + u16(2) + u16(3) + commitment +
                  v2_body(latest_cc) + TRANSPORT + sorted_map(MAP))
        fields = [("seed_share", seed_share.hex()), ("seed_party_id", str(seed_id)),
                  ("seed_threshold", "2"), ("seed_num_parties", "3"),
                  ("commitment", commitment.hex())] + common_fields(latest_cc)
        blocks.append(block(name, record, fields))

    header = [
        "# Ed25519 and exportable Ed25519 share records assembled from the record",
        "# layouts by share_ed25519_gen.py. One block per record, blocks separated by",
        "# blank lines, one 'key value' per line. chain_code of a tag-0 record is the",
        "# chain code its V1 -> V2 upgrade must give. shares: the Shamir shares of all",
        "# three parties of the key (x = group_secret).",
        "# derive: path (- for empty), child secret, child public key, child chain",
        "#         code, depth, parent fingerprint, child number.",
        "",
    ]
    with open(os.path.join(HERE, "share_ed25519_records.txt"), "w") as f:
        f.write("\n".join(header) + "\n" + "\n\n".join(blocks) + "\n")


if __name__ == "__main__":
    main()
