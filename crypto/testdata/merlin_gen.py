"""Generates merlin_boundary_sigs.txt: sr25519 signatures made by an
independent implementation (PyPI py-sr25519-bindings, pinned in
requirements.txt) over messages whose signing transcript fills the STROBE-128
block to 164..168 bytes (and the same one block further on).

The signing transcript has absorbed 77 bytes of the current block when the
message starts, so a message of length L ends at byte 77 + L. A verifier
that recomputes the challenge with our transcript accepts these signatures
only if STROBE's block handling is right at those positions.

Run once; the output is committed:
    python crypto/testdata/merlin_gen.py > crypto/testdata/merlin_boundary_sigs.txt
"""
import hashlib

import sr25519

print("# length pubkey message signature (hex), context \"substrate\"")
for length in list(range(86, 93)) + list(range(252, 259)):
    seed = hashlib.sha256(b"merlin boundary %d" % length).digest()
    pub, priv = sr25519.pair_from_seed(seed)
    msg = bytes((i * 7 + length) & 0xFF for i in range(length))
    sig = sr25519.sign((pub, priv), msg)
    assert sr25519.verify(sig, msg, pub)
    print(length, pub.hex(), msg.hex(), sig.hex())
