#!/usr/bin/env python3
"""Generates encrypted_cases.txt: whole encrypted sessions (party numbering,
session prologue, every pairwise Noise_KK_25519_ChaChaPoly_BLAKE2s handshake
and transport frames) computed by independent implementations: PyPI
noiseprotocol 0.3.1 (over the `cryptography` package) for the channels and
PyPI blake3 for the prologue. The C++ tests replay them byte for byte.

Run once from the project root with the project's virtual environment:

    .venv/bin/python velto-mpc-infra/testdata/gen_encrypted_cases.py \
        > velto-mpc-infra/testdata/encrypted_cases.txt

The output is deterministic (seeded key material and messages).

What the cases fix, as this system runs its sessions:
  * keygen form: the static keys sorted bytewise are numbered 1..n;
    sign form: the given ids are kept and listed in key order;
  * prologue: BLAKE3 derive-key "VELTO Noise_KK prologue V0" over every id
    (2 bytes little-endian) then every key (32 bytes), in list order, then
    the extra bytes the caller appends;
  * the party with the bytewise lower static key initiates; handshake
    payloads are empty (48-byte messages);
  * transport AD = sender id || recipient id (2 bytes little-endian each),
    driven through the library's CipherState.encrypt_with_ad.

Line format, "-" for empty hex:
  case <name>
  form <keygen|sign>
  party <id> <static private key hex>     (id: expected for keygen, given for sign)
  extra <hex>                              bytes appended to the session hasher
  prologue <hex>
  ephemeral <from id> <to id> <private hex>  ephemeral `from` uses with `to`
  handshake <from id> <to id> <message hex>  in the order each pair sends them
  transport <from id> <to id> <plaintext hex> <frame hex>  in sending order
  end
"""

import random
import sys
import warnings

import blake3
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import x25519
from noise.connection import Keypair, NoiseConnection

warnings.filterwarnings("ignore", message="One of ephemeral keypairs is already set")

NAME = b"Noise_KK_25519_ChaChaPoly_BLAKE2s"
CONTEXT = "VELTO Noise_KK prologue V0"
RNG = random.Random(0x00E1C5EED)


def rand_bytes(n):
    return bytes(RNG.getrandbits(8) for _ in range(n))


def hx(b):
    return b.hex() if b else "-"


def public_of(private):
    return x25519.X25519PrivateKey.from_private_bytes(private).public_key().public_bytes(
        serialization.Encoding.Raw, serialization.PublicFormat.Raw)


def le16(v):
    return v.to_bytes(2, "little")


def session(name, n, sign_ids=None, extra=b"", lengths=(0, 1, 200)):
    statics = [rand_bytes(32) for _ in range(n)]
    # (key, private, id), sorted by key bytewise.
    by_key = sorted((public_of(s), s) for s in statics)
    if sign_ids is None:
        ids = list(range(1, n + 1))
    else:
        ids = list(sign_ids)
    parties = [(ids[i], by_key[i][1], by_key[i][0]) for i in range(n)]

    h = blake3.blake3(derive_key_context=CONTEXT)
    for pid, _, _ in parties:
        h.update(le16(pid))
    for _, _, pub in parties:
        h.update(pub)
    h.update(extra)
    prologue = h.digest()

    lines = [f"case {name}", "form " + ("keygen" if sign_ids is None else "sign")]
    # Parties listed in generation order (not key order), so the numbering
    # is the reader's job.
    for s in statics:
        pid = next(p for p, priv, _ in parties if priv == s)
        lines.append(f"party {pid} {hx(s)}")
    lines.append(f"extra {hx(extra)}")
    lines.append(f"prologue {hx(prologue)}")

    conns = {}
    handshakes = []
    for i in range(n):
        for j in range(i + 1, n):
            # i has the lower key: the initiator.
            (ia, ipriv, _), (ja, jpriv, _) = parties[i], parties[j]
            ei, ej = rand_bytes(32), rand_bytes(32)
            lines.append(f"ephemeral {ia} {ja} {hx(ei)}")
            lines.append(f"ephemeral {ja} {ia} {hx(ej)}")
            init = NoiseConnection.from_name(NAME)
            resp = NoiseConnection.from_name(NAME)
            init.set_as_initiator()
            resp.set_as_responder()
            for conn, own, e, peer in ((init, ipriv, ei, jpriv), (resp, jpriv, ej, ipriv)):
                conn.set_prologue(prologue)
                conn.set_keypair_from_private_bytes(Keypair.STATIC, own)
                conn.set_keypair_from_private_bytes(Keypair.EPHEMERAL, e)
                conn.set_keypair_from_public_bytes(Keypair.REMOTE_STATIC, public_of(peer))
                conn.start_handshake()
            m0 = bytes(init.write_message(b""))
            assert resp.read_message(m0) == b""
            m1 = bytes(resp.write_message(b""))
            assert init.read_message(m1) == b""
            assert len(m0) == 48 and len(m1) == 48
            handshakes.append(f"handshake {ia} {ja} {hx(m0)}")
            handshakes.append(f"handshake {ja} {ia} {hx(m1)}")
            conns[(ia, ja)] = (init.noise_protocol.cipher_state_encrypt, resp.noise_protocol.cipher_state_decrypt)
            conns[(ja, ia)] = (resp.noise_protocol.cipher_state_encrypt, init.noise_protocol.cipher_state_decrypt)
    lines += handshakes

    # Every ordered pair sends a message of each length (plus its 32-byte
    # UcTag), in rounds, so nonces advance in both directions.
    for length in lengths:
        for a, _, _ in parties:
            for b, _, _ in parties:
                if a == b:
                    continue
                plaintext = rand_bytes(length) + rand_bytes(32)
                ad = le16(a) + le16(b)
                enc, dec = conns[(a, b)]
                frame = enc.encrypt_with_ad(ad, plaintext)
                assert len(frame) == length + 48
                assert dec.decrypt_with_ad(ad, frame) == plaintext
                lines.append(f"transport {a} {b} {hx(plaintext)} {hx(frame)}")
    lines.append("end")
    return lines


def main():
    out = ["# Generated by gen_encrypted_cases.py (noiseprotocol 0.3.1, blake3); do not edit."]
    out += session("keygen_three", 3)
    # Ids of a stored share (not 1..n), and bytes appended by the caller
    # (party count and threshold, then a label).
    out += session("sign_three_extra", 3, sign_ids=(7, 2, 5),
                   extra=le16(3) + le16(2) + b"ECDSA Sign")
    out += session("keygen_two", 2, lengths=(0, 5000))
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
