"""sr25519 signatures made by the library, checked by an independent verifier.

The test-only program VELTO_SR25519_SIGNER generates a 2-of-3 sr25519 key
through the velto_sr25519_* functions on the local relay and lets two of the
parties sign (the empty message, under the group key and under derived keys).
Every signature must verify with `sr25519.verify` of py-sr25519-bindings, and
a copy with one bit flipped must not.
"""
import os
import subprocess

import pytest
import sr25519


@pytest.fixture(scope="module")
def signatures(relay_host):
    binary = os.environ.get("VELTO_SR25519_SIGNER")
    if not binary:
        pytest.fail("VELTO_SR25519_SIGNER must name the sr25519 signing helper")
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    done = subprocess.run([binary, relay_host], capture_output=True, text=True, env=env, timeout=600)
    assert done.returncode == 0, done.stdout + done.stderr
    out = []
    for line in done.stdout.splitlines():
        kind, key, *rest = line.split(" ")
        assert kind == "sig", line
        message, signature = (rest if len(rest) == 2 else ["", rest[0]])
        out.append((bytes.fromhex(key), bytes.fromhex(message), bytes.fromhex(signature)))
    return out


def test_the_cases_cover_the_empty_message_and_derived_keys(signatures):
    assert len(signatures) == 4
    assert any(message == b"" for _, message, _ in signatures)
    assert len({key for key, _, _ in signatures}) == 4


def test_every_signature_verifies(signatures):
    for key, message, signature in signatures:
        assert len(signature) == 64
        assert sr25519.verify(signature, message, key), (key.hex(), message.hex(), signature.hex())


@pytest.mark.parametrize("bit", [0, 8 * 31 + 3, 8 * 32, 8 * 62 + 5])
def test_a_flipped_bit_is_refused(signatures, bit):
    for key, message, signature in signatures:
        flipped = bytearray(signature)
        flipped[bit // 8] ^= 1 << (bit % 8)
        try:
            assert not sr25519.verify(bytes(flipped), message, key)
        except ValueError:
            pass  # a structurally invalid signature is refused too
