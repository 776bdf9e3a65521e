"""Shared fixtures: the local relay with the test CA's certificate.

The module under test is the copy built with the test CA compiled in (ctest
puts it on PYTHONPATH); the relay runs from the build tree with a certificate
for 127.0.0.1 signed by that CA.
"""
import asyncio
import os
import subprocess

import pytest
import pytest_asyncio

import karvane_wallet_mpc as kwm


@pytest.fixture(scope="session")
def relay_host():
    binary = os.environ.get("VELTO_RELAY_BIN")
    cert = os.environ.get("VELTO_RELAY_CERT")
    key = os.environ.get("VELTO_RELAY_KEY")
    if not (binary and cert and key):
        pytest.fail("VELTO_RELAY_BIN, VELTO_RELAY_CERT and VELTO_RELAY_KEY must name the relay and its certificate")
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    proc = subprocess.Popen(
        [binary, "--cert", cert, "--key", key, "--listen", "127.0.0.1", "--port", "0"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    line = proc.stdout.readline().strip()
    if not line.startswith("listening on "):
        proc.kill()
        pytest.fail(f"relay did not start: {line!r} {proc.stderr.read()}")
    yield line[len("listening on "):]
    proc.terminate()
    proc.wait(timeout=10)


@pytest.fixture(scope="session")
def client(relay_host):
    return kwm.PyEcdsa(relay_host)


class Party:
    """One party: its keygen identity and, after a keygen, its share."""

    def __init__(self, client):
        ident = client.init_keygen()
        self.keygen_id = ident.keygen_id
        self.keygen_secret = ident.keygen_secret
        self.share = None


async def keygen(client, n, t):
    """n parties generate a t-of-n key; returns (parties, results)."""
    parties = [Party(client) for _ in range(n)]
    ids = [p.keygen_id for p in parties]
    room = await client.create_room(n, "")
    results = await asyncio.gather(*(client.keygen(room, n, t, p.keygen_secret, ids) for p in parties))
    for p, r in zip(parties, results):
        p.share = r.secret_share
    return parties, results


@pytest_asyncio.fixture(scope="session")
async def key_2_of_3(client):
    """One 2-of-3 key shared by the end-to-end tests that only read it."""
    return await keygen(client, 3, 2)
