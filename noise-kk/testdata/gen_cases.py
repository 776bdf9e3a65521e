#!/usr/bin/env python3
"""Generates kk_cases.txt: Noise_KK_25519_ChaChaPoly_BLAKE2s sessions computed
by an independent implementation (PyPI noiseprotocol 0.3.1 over the
`cryptography` package), for the C++ channel tests to replay byte for byte.

Run once from the project root with the project's virtual environment:

    .venv/bin/python noise-kk/testdata/gen_cases.py > noise-kk/testdata/kk_cases.txt

The output is deterministic (seeded key material and payloads).

Where our channel differs from standard Noise, the difference is applied from
outside where the library allows it:
  * associated data on transport messages: the library's transport ciphers
    are driven directly through CipherState.encrypt_with_ad, with the 4-byte
    AD (sender id then recipient id, 2 bytes little-endian each) the session
    engine uses;
  * messages above 65,535 bytes: transport ciphers are driven directly (the
    library's length limit sits only in NoiseConnection.encrypt), handshake
    payloads go through HandshakeState, which has no limit;
  * the ephemeral key chosen before the first write: injected through
    set_keypair_from_private_bytes(Keypair.EPHEMERAL, ...);
  * a remote ephemeral whose X25519 output is all zero, used as it is: built
    by hand from the library's SymmetricState, since its X25519 refuses that
    output (case zero_dh_ephemeral).
Not applicable from outside, and tested in C++ on their own instead: the
empty-key error, the step chosen by the message counter, associated data
refused on handshake messages, the public-key blocklist, nonce exhaustion and
the in-place buffer layout (the layout itself is the standard wire format).

Line format, one record per line, "-" for empty hex:
  case <name>
  prologue <hex>
  init_static <hex> / resp_static <hex>        (private keys)
  init_ephemeral <hex> / resp_ephemeral <hex>  (private keys)
  handshake_hash <hex>
  msg <init|resp> <ad hex> <payload> <message hex>   (sender, in order)
  end
A payload is hex, or "ramp:<n>" for the n bytes i mod 251 (large messages).
"""

import random
import sys
import warnings

from cryptography.hazmat.primitives.asymmetric import x25519
from noise.connection import Keypair, NoiseConnection
from noise.noise_protocol import NoiseProtocol
from noise.backends.default import noise_backend
from noise.state import SymmetricState

# Fixed ephemerals are the point of these cases; silence the library's warning.
warnings.filterwarnings("ignore", message="One of ephemeral keypairs is already set")

NAME = b"Noise_KK_25519_ChaChaPoly_BLAKE2s"
RNG = random.Random(0x5EED_4B4B)


def rand_bytes(n):
    return bytes(RNG.getrandbits(8) for _ in range(n))


def hx(b):
    return b.hex() if b else "-"


def ramp(n):
    return bytes(i % 251 for i in range(n))


def payload_text(p):
    return f"ramp:{len(p)}" if len(p) > 4096 and p == ramp(len(p)) else hx(p)


def public_of(private):
    from cryptography.hazmat.primitives import serialization
    return x25519.X25519PrivateKey.from_private_bytes(private).public_key().public_bytes(
        serialization.Encoding.Raw, serialization.PublicFormat.Raw)


def ad_of(sender_id, recipient_id):
    return sender_id.to_bytes(2, "little") + recipient_id.to_bytes(2, "little")


def session(name, hs_payloads, transport, with_ids=True):
    """transport: list of (sender 'init'|'resp', payload length)."""
    prologue = rand_bytes(32)
    keys = {k: rand_bytes(32) for k in ("init_s", "init_e", "resp_s", "resp_e")}
    init = NoiseConnection.from_name(NAME)
    resp = NoiseConnection.from_name(NAME)
    init.set_as_initiator()
    resp.set_as_responder()
    for conn, own, peer in ((init, "init", "resp"), (resp, "resp", "init")):
        conn.set_prologue(prologue)
        conn.set_keypair_from_private_bytes(Keypair.STATIC, keys[own + "_s"])
        conn.set_keypair_from_private_bytes(Keypair.EPHEMERAL, keys[own + "_e"])
        conn.set_keypair_from_public_bytes(Keypair.REMOTE_STATIC, public_of(keys[peer + "_s"]))
        conn.start_handshake()

    lines = [f"case {name}", f"prologue {hx(prologue)}",
             f"init_static {hx(keys['init_s'])}", f"init_ephemeral {hx(keys['init_e'])}",
             f"resp_static {hx(keys['resp_s'])}", f"resp_ephemeral {hx(keys['resp_e'])}"]
    msgs = []

    p0 = ramp(hs_payloads[0]) if hs_payloads[0] > 4096 else rand_bytes(hs_payloads[0])
    m0 = bytes(init.write_message(p0))
    assert bytes(resp.read_message(m0)) == p0
    msgs.append(("init", b"", p0, m0))
    p1 = rand_bytes(hs_payloads[1])
    m1 = bytes(resp.write_message(p1))
    assert bytes(init.read_message(m1)) == p1
    msgs.append(("resp", b"", p1, m1))
    assert init.handshake_finished and resp.handshake_finished
    assert init.get_handshake_hash() == resp.get_handshake_hash()
    lines.append(f"handshake_hash {hx(init.get_handshake_hash())}")

    # The lower key is party 1 in a session with fresh ids; only the AD
    # layout matters here.
    ids = {"init": 1, "resp": 2}
    for sender, length in transport:
        receiver = "resp" if sender == "init" else "init"
        tx = init if sender == "init" else resp
        rx = resp if sender == "init" else init
        ad = ad_of(ids[sender], ids[receiver]) if with_ids else b""
        payload = ramp(length) if length > 4096 else rand_bytes(length)
        ct = tx.noise_protocol.cipher_state_encrypt.encrypt_with_ad(ad, payload)
        assert rx.noise_protocol.cipher_state_decrypt.decrypt_with_ad(ad, ct) == payload
        msgs.append((sender, ad, payload, ct))

    for sender, ad, payload, message in msgs:
        lines.append(f"msg {sender} {hx(ad)} {payload_text(payload)} {hx(message)}")
    lines.append("end")
    return lines


def zero_dh_ephemeral():
    """The initiator's first message with ephemeral 0 + 2^255 (not refused;
    X25519 masks the top bit, so every DH with it is all zero)."""
    prologue = rand_bytes(32)
    init_s, resp_s = rand_bytes(32), rand_bytes(32)
    e_pub = bytes(31) + b"\x80"
    protocol = NoiseProtocol(protocol_name=NAME, backend=noise_backend)
    ss = SymmetricState.initialize_symmetric(protocol)
    ss.mix_hash(prologue)
    ss.mix_hash(public_of(init_s))
    ss.mix_hash(public_of(resp_s))
    ss.mix_hash(e_pub)
    ss.mix_key(bytes(32))  # es: DH(e, rs) as the responder computes it
    ss.mix_key(x25519.X25519PrivateKey.from_private_bytes(init_s).exchange(
        x25519.X25519PublicKey.from_public_bytes(public_of(resp_s))))  # ss
    payload = b"zero dh"
    message = e_pub + ss.encrypt_and_hash(payload)
    return ["case zero_dh_ephemeral", f"prologue {hx(prologue)}",
            f"init_static {hx(init_s)}", f"resp_static {hx(resp_s)}",
            f"msg init - {hx(payload)} {hx(message)}", "end"]


def main():
    out = ["# Generated by gen_cases.py (noiseprotocol 0.3.1); do not edit."]
    # The shape the session engine uses: empty handshake payloads (48-byte
    # messages), transport AD = sender id || recipient id, both directions
    # interleaved, empty and odd-sized payloads.
    out += session("engine_shape", (0, 0),
                   [("init", 0), ("resp", 1), ("resp", 64), ("init", 63),
                    ("init", 1000), ("resp", 16), ("init", 17), ("resp", 4096)])
    # Handshake payloads, transport without AD (standard Noise transport).
    out += session("payloads_no_ad", (11, 300),
                   [("resp", 5), ("init", 33), ("resp", 0)], with_ids=False)
    # Messages above standard Noise's 65,535-byte limit.
    out += session("large_messages", (65536, 0),
                   [("init", 65536), ("resp", 3)])
    out += zero_dh_ephemeral()
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
