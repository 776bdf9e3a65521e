"""Model of the committed discrete-log proof of ECDSA protocol version 1.1.0.

Written from the protocol description, independently of the C++ code:
  challenge c = BLAKE3-derive-key("VELTO ZKPOK DLOG PROOF V0",
                                   tag(D) || id (u16 LE) || X (33) || R (33)),
                read big-endian, reduced mod n
  z = k + c*x mod n
  opening = X (33) || R (33) || z (32 BE)
  digest = BLAKE3-derive-key("VELTO ECDSA COMMIT V0",
                             tag(M) || id (u16 LE) || every id of M (u16 LE) || opening)
with D the child "DLComZK" of the key-generation executor and M its child
"DLComZK to Com"; a child tag is BLAKE3-derive-key("UC_TAG VELTO v0.1",
parent || len(label) (1 byte) || label), the root tag the same context over
eight zero bytes.

Writes proof_v4.txt, one row per case:
  keygen_tag parties(comma-separated) prover x k  X R z challenge opening digest
Run with the project's .venv (PyPI blake3 and coincurve).
"""
import hashlib
import os
import sys

from blake3 import blake3
from coincurve import PrivateKey

N = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141


def dk(context, data):
    return blake3(data, derive_key_context=context).digest()


def child(tag, label):
    label = label.encode()
    return dk("UC_TAG VELTO v0.1", tag + bytes([len(label)]) + label)


def point(scalar):
    return PrivateKey(scalar.to_bytes(32, "big")).public_key.format(compressed=True)


def u16(v):
    return v.to_bytes(2, "little")


def case(keygen_tag, parties, prover, x, k):
    d = child(keygen_tag, "DLComZK")
    m = child(d, "DLComZK to Com")
    X, R = point(x), point(k)
    c = int.from_bytes(dk("VELTO ZKPOK DLOG PROOF V0", d + u16(prover) + X + R), "big")
    if c >= N:
        c -= N
    z = (k + c * x) % N
    opening = X + R + z.to_bytes(32, "big")
    digest = dk("VELTO ECDSA COMMIT V0", m + u16(prover) + b"".join(u16(p) for p in parties) + opening)
    return [keygen_tag.hex(), ",".join(map(str, parties)), str(prover), f"{x:064x}", f"{k:064x}", X.hex(), R.hex(),
            f"{z:064x}", f"{c:064x}", opening.hex(), digest.hex()]


def main():
    root = dk("UC_TAG VELTO v0.1", bytes(8))
    keygen = child(root, "ECDSA Keygen")
    rows = [case(keygen, [1, 2, 3], 2, 7, 11),
            case(keygen, [1, 2], 1, N - 1, 1),
            case(child(root, "keygen_inner"), [4, 9, 65535], 65535, 0x1234567890ABCDEF, N - 2)]
    seeded = hashlib.sha256(b"proof v1.1.0 vectors").digest()
    for i in range(3):
        h = hashlib.sha256(seeded + bytes([i])).digest()
        x = int.from_bytes(h, "big") % (N - 1) + 1
        k = int.from_bytes(hashlib.sha256(h).digest(), "big") % (N - 1) + 1
        tag = hashlib.sha256(h + b"tag").digest()
        rows.append(case(tag, [1, 2, 3, 4, 5], i + 1, x, k))
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "proof_v4.txt")
    with open(out, "w") as f:
        f.write("# keygen_tag parties prover x k X R z challenge opening digest (gen_proof_v4.py)\n")
        for r in rows:
            f.write(" ".join(r) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
