#!/usr/bin/env python3
"""Generates share_ecdsa_records.txt beside this script.

Run once with the project's virtualenv; the output is committed and the C++
tests read only it. Every record is assembled byte by byte from the record
layouts (tag, fields, transport key, party map), with the curve points from
coincurve, the X25519 public keys from PyNaCl, the V1 -> V2 chain code from
PyPI blake3 and the BIP32 public derivation from hmac/hashlib, coincurve and
pycryptodome (RIPEMD-160). Nothing here shares code with the library.

    .venv/bin/python executor/testdata/share_ecdsa_gen.py
"""

import hashlib
import hmac
import os
import random

import blake3
import coincurve
import nacl.bindings
from Crypto.Hash import RIPEMD160

N = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141
CHAIN_CODE_CONTEXT = "ECDSA SecretShareV1->V2 chaincode"
SENDER_STATE_SIZE = 12384    # 2,048 * 2 + 8,256 + 32
RECEIVER_STATE_SIZE = 8224   # 8,192 + 32

rng = random.Random(0x5EC12E7)


def rand_bytes(n):
    return bytes(rng.getrandbits(8) for _ in range(n))


def rand_scalar():
    while True:
        v = int.from_bytes(rand_bytes(32), "big")
        if 0 < v < N:
            return v


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


def point(seed_scalar):
    return coincurve.PublicKey.from_secret(seed_scalar.to_bytes(32, "big"))


def x25519_public(private):
    return nacl.bindings.crypto_scalarmult_base(private)


def v1_chain_code(pub):
    u = pub.format(compressed=False)
    return blake3.blake3(u, derive_key_context=CHAIN_CODE_CONTEXT).digest()[:32]


def fingerprint(pub):
    h = RIPEMD160.new(hashlib.sha256(pub.format(compressed=True)).digest()).digest()
    return h[:4]


def derive(pub, chain_code, path):
    """Public BIP32 derivation; returns (tweak sum, child key, chain code, depth, fingerprint, child number)."""
    tweak = 0
    depth, fp, child_number = 0, b"\0\0\0\0", 0
    for index in path:
        assert index < 2**31
        i = hmac.new(chain_code, pub.format(compressed=True) + index.to_bytes(4, "big"), hashlib.sha512).digest()
        il = int.from_bytes(i[:32], "big")
        assert 0 < il < N
        fp = fingerprint(pub)
        pub = pub.add(i[:32])
        chain_code = i[32:]
        tweak = (tweak + il) % N
        depth += 1
        child_number = index
    return tweak, pub, chain_code, depth, fp, child_number


def counted_map(entries):
    out = u64(len(entries))
    for pid, key in entries:
        out += u16(pid) + key
    return out


def sorted_map(entries):
    out = varint(len(entries))
    for pid, key in entries:
        out += u16(pid) + key
    return out


def fixed_point(pub, form):
    if form == "compressed":
        enc = pub.format(compressed=True)
    elif form == "uncompressed":
        enc = pub.format(compressed=False)
    elif form == "compact05":
        enc = b"\x05" + pub.format(compressed=True)[1:]
    else:
        raise ValueError(form)
    return u64(len(enc)) + enc


def ids(pid, t, n):
    return u16(pid) + u16(t) + u16(n)


class Key:
    def __init__(self, secret, pub, pid, t, n, transport, peers):
        self.secret, self.pub, self.pid, self.t, self.n = secret, pub, pid, t, n
        self.transport = transport
        self.peers = peers  # list of (id, x25519 public key)


def v1_record(k, form="compressed", peers=None):
    peers = k.peers if peers is None else peers
    return (u32(0) + k.secret.to_bytes(32, "big") + fixed_point(k.pub, form) + ids(k.pid, k.t, k.n)
            + k.transport + counted_map(peers))


def v2_record(k, cc, form="compressed", peers=None):
    peers = k.peers if peers is None else peers
    return (u32(1) + k.secret.to_bytes(32, "big") + fixed_point(k.pub, form) + cc + ids(k.pid, k.t, k.n)
            + k.transport + counted_map(peers))


def core(k, cc):
    return k.secret.to_bytes(32, "big") + k.pub.format(compressed=True) + cc + ids(k.pid, k.t, k.n)


def latest_record(k, cc, peers=None):
    peers = k.peers if peers is None else peers
    return u32(3) + core(k, cc) + k.transport + sorted_map(peers)


def v1_1_0_record(k, cc, states=None):
    body = u32(2) + core(k, cc)
    if states is None:
        body += varint(0)
    else:
        sender, receiver = states
        body += varint(1) + varint(len(sender))
        for pid, block in sender:
            body += u16(pid) + block
        body += varint(len(receiver))
        for pid, block in receiver:
            body += u16(pid) + block
    return body + k.transport + sorted_map(k.peers)


def new_key(pid, t, n, peer_ids):
    secret = rand_scalar()
    pub = point(rand_scalar())
    transport = rand_bytes(32)
    peers = [(p, x25519_public(rand_bytes(32))) for p in peer_ids]
    return Key(secret, pub, pid, t, n, transport, peers)


fixtures = []


def add(name, tag, record, key, chain_code, canonical=None, peers=None, states=None, paths=()):
    peers = key.peers if peers is None else peers
    f = [
        ("name", name),
        ("tag", str(tag)),
        ("record", record.hex()),
        ("canonical", (canonical if canonical is not None else record).hex()),
        ("secret", key.secret.to_bytes(32, "big").hex()),
        ("pubkey", key.pub.format(compressed=True).hex()),
        ("pubkey_uncompressed", key.pub.format(compressed=False).hex()),
        ("chain_code", chain_code.hex()),
        ("party_id", str(key.pid)),
        ("threshold", str(key.t)),
        ("num_parties", str(key.n)),
        ("transport_private", key.transport.hex()),
        ("transport_public", x25519_public(key.transport).hex()),
        ("map", ",".join(f"{p}:{k.hex()}" for p, k in sorted(dict(peers).items()))),
    ]
    if states is not None:
        sender, receiver = states
        f.append(("sender_states", ",".join(f"{p}:{blake3.blake3(b).hexdigest()}" for p, b in sender)))
        f.append(("receiver_states", ",".join(f"{p}:{blake3.blake3(b).hexdigest()}" for p, b in receiver)))
    for path in paths:
        tweak, child, child_cc, depth, fp, child_number = derive(key.pub, chain_code, path)
        f.append(("derive", " ".join([
            "/".join(str(i) for i in path) if path else "-",
            ((key.secret + tweak) % N).to_bytes(32, "big").hex(),
            child.format(compressed=True).hex(),
            child_cc.hex(),
            str(depth), fp.hex(), str(child_number),
        ])))
    fixtures.append(f)


# One key held by party 2 of 3 (threshold 2), stored in every variant. The V1
# record derives its chain code; the other variants store that same chain
# code, so all four convert to the same key pair.
k = new_key(2, 2, 3, [1, 3])
cc = v1_chain_code(k.pub)
paths = [(), (0, 1, 2), (2147483647, 7)]

add("v1", 0, v1_record(k), k, cc, paths=paths)
add("v1_map_out_of_order", 0, v1_record(k, peers=list(reversed(k.peers))), k, cc, canonical=v1_record(k))
add("v1_trailing_bytes", 0, v1_record(k) + bytes.fromhex("00ff00ff"), k, cc, canonical=v1_record(k))
add("v2", 1, v2_record(k, cc), k, cc, paths=paths)
add("v2_uncompressed_point", 1, v2_record(k, cc, form="uncompressed"), k, cc, canonical=v2_record(k, cc))
add("latest", 3, latest_record(k, cc), k, cc, paths=paths)
add("latest_trailing_bytes", 3, latest_record(k, cc) + bytes.fromhex("deadbeef"), k, cc,
    canonical=latest_record(k, cc))
add("v1_1_0", 2, v1_1_0_record(k, cc), k, cc, paths=paths)
add("v1_1_0_empty_states", 2, v1_1_0_record(k, cc, states=([], [])), k, cc, states=([], []))
sender = [(1, rand_bytes(SENDER_STATE_SIZE)), (3, rand_bytes(SENDER_STATE_SIZE))]
receiver = [(3, rand_bytes(RECEIVER_STATE_SIZE))]
add("v1_1_0_states", 2, v1_1_0_record(k, cc, states=(sender, receiver)), k, cc, states=(sender, receiver),
    paths=[(0, 1, 2)])

# The compact 05 form of a fixed-width point names the point with that x and
# even y; re-encoding writes it as 02.
k05 = new_key(1, 1, 2, [2])
k05_even = coincurve.PublicKey(b"\x02" + k05.pub.format(compressed=True)[1:])
k05_canon = Key(k05.secret, k05_even, k05.pid, k05.t, k05.n, k05.transport, k05.peers)
cc05 = rand_bytes(32)
add("v2_compact05_point", 1, v2_record(k05, cc05, form="compact05"), k05_canon, cc05,
    canonical=v2_record(k05_canon, cc05))

# Sorted map details: a repeated id keeps the later key; an empty map; a count
# in the two-byte varint form.
kd = new_key(3, 2, 3, [1, 2])
dup_peers = [kd.peers[0], (2, x25519_public(rand_bytes(32))), kd.peers[1]]
ccd = rand_bytes(32)
add("latest_repeated_map_id", 3, latest_record(kd, ccd, peers=dup_peers), kd, ccd,
    canonical=latest_record(kd, ccd))
ke = new_key(1, 1, 1, [])
cce = rand_bytes(32)
add("latest_empty_map", 3, latest_record(ke, cce), ke, cce)
add("v1_empty_map", 0, v1_record(ke), ke, v1_chain_code(ke.pub))
kw = new_key(301, 150, 301, list(range(1, 301)))
ccw = rand_bytes(32)
add("latest_300_peers", 3, latest_record(kw, ccw), kw, ccw)

# Values the readers let through: a zero secret share, a threshold above the
# number of parties, the largest party counts and a large party id.
kz = new_key(5, 9, 8192, [1])
kz.secret = 0
ccz = rand_bytes(32)
add("latest_zero_secret_threshold_above_n", 3, latest_record(kz, ccz), kz, ccz)
kz2 = new_key(65535, 8192, 8192, [1])
add("v2_largest_counts", 1, v2_record(kz2, ccz), kz2, ccz)

here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, "share_ecdsa_records.txt"), "w") as out:
    out.write("# ECDSA share records assembled from the record layouts by share_ecdsa_gen.py.\n")
    out.write("# One block per record, blocks separated by blank lines, one 'key value' per line.\n")
    out.write("# chain_code of a tag-0 record is the chain code its V1 -> V2 upgrade must give.\n")
    out.write("# derive: path (- for empty), child secret, child public key, child chain code,\n")
    out.write("#         depth, parent fingerprint, child number.\n")
    for f in fixtures:
        out.write("\n")
        for key, value in f:
            out.write(f"{key} {value}\n")
