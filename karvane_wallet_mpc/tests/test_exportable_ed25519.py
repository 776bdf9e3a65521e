"""PyExportableEd25519 against the local relay.

The sampling party of a key generation is a service that calls the library
directly; here it is the test-only program VELTO_EXPORTABLE_SAMPLER. Keys and
signatures are checked with PyNaCl.
"""
import asyncio
import os

import nacl.signing
import pytest
import pytest_asyncio

import karvane_wallet_mpc as kwm

from conftest import Party

pytestmark = pytest.mark.asyncio

# RFC 8032, test 1.
RFC8032_SEED = bytes.fromhex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60")
RFC8032_PUBLIC = bytes.fromhex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a")


@pytest.fixture(scope="session")
def xclient(relay_host):
    return kwm.PyExportableEd25519(relay_host)


async def run_sampler(relay_host, room, n, t, sampler, ids):
    """The sampling party: starts the helper and returns its awaited output line."""
    binary = os.environ.get("VELTO_EXPORTABLE_SAMPLER")
    if not binary:
        pytest.fail("VELTO_EXPORTABLE_SAMPLER must name the sampling helper")
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    proc = await asyncio.create_subprocess_exec(
        binary, relay_host, room, str(n), str(t), bytes(sampler.keygen_secret).hex(), *ids,
        stdout=asyncio.subprocess.PIPE, env=env)
    out, _ = await proc.communicate()
    words = out.decode().split()
    assert (proc.returncode == 0) == (words[:1] == ["ok"]), words
    return words


async def receive_key(xclient, relay_host, n, t):
    """One sampling party and n - 1 receivers; returns (receivers, results, sampler output)."""
    sampler = Party(xclient)
    receivers = [Party(xclient) for _ in range(n - 1)]
    ids = [sampler.keygen_id] + [p.keygen_id for p in receivers]
    room = await xclient.create_room(n, "")
    sampled, *results = await asyncio.gather(
        run_sampler(relay_host, room, n, t, sampler, ids),
        *(xclient.receive_key(room, n, t, p.keygen_secret, ids) for p in receivers))
    return receivers, results, sampled


@pytest_asyncio.fixture(scope="session")
async def key_2_of_3(xclient, relay_host):
    receivers, results, sampled = await receive_key(xclient, relay_host, 3, 2)
    assert sampled[0] == "ok", sampled
    return receivers, results, sampled


async def test_received_key_signs_and_exports(xclient, key_2_of_3):
    receivers, results, sampled = key_2_of_3
    pubkey = bytes(results[0].pubkey)
    assert sampled[1] == pubkey.hex()
    assert all(bytes(r.pubkey) == pubkey for r in results)
    shares = [r.secret_share for r in results]
    for share, party in zip(shares, receivers):
        assert bytes(xclient.derive_pubkey(share, [])) == pubkey
        assert bytes(xclient.derive_pubkey(share, [0, 2 ** 31 + 5])) == pubkey
        assert xclient.export_id(share) == party.keygen_id

    verify_key = nacl.signing.VerifyKey(pubkey)
    for message in (b"", b"exportable", bytes(range(200))):
        room = await xclient.create_room(2, "")
        sigs = await asyncio.gather(*(xclient.sign(room, s, list(message), []) for s in shares))
        for sig in sigs:
            assert len(sig) == 64
            assert verify_key.verify(message, bytes(sig)) == message

    room = await xclient.create_room(2, "")
    exported = await asyncio.gather(
        *(xclient.export_full_private_key(room, s, receivers[1].keygen_id) for s in shares))
    assert exported[0] is None
    seed = bytes.fromhex(exported[1][:64])
    assert exported[1][64:] == pubkey.hex()
    assert bytes(nacl.signing.SigningKey(seed).verify_key) == pubkey


async def test_import_refresh_and_export_back(xclient):
    importer, *recipients = parties = [Party(xclient) for _ in range(3)]
    ids = [p.keygen_id for p in parties]
    room = await xclient.create_room(3, "")
    results = await asyncio.gather(
        xclient.import_private_key_importer(room, 2, list(RFC8032_SEED), True, importer.keygen_secret, ids[1:]),
        *(xclient.import_private_key_recipient(room, 2, p.keygen_secret, ids) for p in recipients))
    assert all(bytes(r.pubkey) == RFC8032_PUBLIC for r in results)
    shares = [r.secret_share for r in results]

    room = await xclient.create_room(3, "")
    refreshed = await asyncio.gather(*(xclient.refresh(room, s) for s in shares))
    assert all(bytes(r.pubkey) == RFC8032_PUBLIC for r in refreshed)
    new_shares = [r.secret_share for r in refreshed]
    assert [xclient.export_id(s) for s in new_shares] != [xclient.export_id(s) for s in shares]

    receiver = xclient.export_id(new_shares[2])
    room = await xclient.create_room(2, "")
    exported = await asyncio.gather(*(xclient.export_full_private_key(room, s, receiver) for s in new_shares[1:]))
    assert exported == [None, RFC8032_SEED.hex() + RFC8032_PUBLIC.hex()]

    # A refresh needs every party of the key.
    room = await xclient.create_room(2, "")
    outcomes = await asyncio.gather(*(xclient.refresh(room, s) for s in new_shares[:2]), return_exceptions=True)
    for o in outcomes:
        assert isinstance(o, RuntimeError)
        assert str(o) == ("velto_exportable_ed25519_refresh failed: MPC error -8: Error Kind: Error in MPC Executor, "
                          "Context: Invalid number of parties: expected 3, got 2")


SECRET = bytes(31) + b"\x09"
ROOM = "0123456789abcdef0123456789abcdef"


@pytest.mark.parametrize("call, text", [
    (lambda c: c.receive_key(ROOM, 0, 0, b"", []), "n must be > 0"),
    (lambda c: c.receive_key(ROOM, 3, 0, bytes(31), []), "t must be > 0"),
    (lambda c: c.receive_key(ROOM, 3, 2, bytes(31), []), "keygen_secret must be 32 bytes"),
    (lambda c: c.import_private_key_recipient(ROOM, 2, bytes(33), []), "keygen_secret must be 32 bytes"),
    (lambda c: c.import_private_key_importer(ROOM, 2, bytes(31), False, bytes(31), []),
     "keygen_secret must be 32 bytes"),
    (lambda c: c.import_private_key_importer(ROOM, 2, bytes(31), False, SECRET, []), "private_key must be 32 bytes"),
    (lambda c: c.create_room(0, ""), "n must be > 0"),
])
async def test_checks_of_the_class_raise_value_error_when_awaited(xclient, call, text):
    awaitable = call(xclient)
    with pytest.raises(ValueError) as e:
        await awaitable
    assert str(e.value) == text


async def test_library_refusals_and_failures_raise_runtime_error(xclient, relay_host, key_2_of_3):
    share = key_2_of_3[1][0].secret_share
    cases = [
        (xclient.import_private_key_recipient(ROOM, 0, SECRET, []),
         "velto_exportable_ed25519_import_private_key_recipient failed (sync): MPC error -6: Error Kind: Invalid "
         "number of parties, Context: invalid number of parties: 0 (must be between 1..=8192)"),
        (xclient.receive_key(ROOM, 9000, 2, SECRET, []),
         "velto_exportable_ed25519_receive_key failed (sync): MPC error -6: Error Kind: Invalid number of parties, "
         "Context: invalid number of parties: 9000 (must be between 1..=8192)"),
        (xclient.sign(ROOM, "zz", b"", []),
         "velto_exportable_ed25519_sign failed (sync): MPC error -3: Error Kind: Invalid secret Share, "
         "Context: Invalid hex encoding"),
        (kwm.PyExportableEd25519("").sign(ROOM, share, b"", []),
         "velto_exportable_ed25519_sign failed (sync): MPC error -2: Error Kind: Invalid host URL"),
        # A receiver that holds no share of the key: refused before any room.
        (xclient.export_full_private_key(ROOM, share, xclient.init_keygen().keygen_id),
         None),
    ]
    for awaitable, text in cases:
        with pytest.raises(RuntimeError) as e:
            await awaitable
        if text is None:
            assert str(e.value).startswith("velto_exportable_ed25519_export_full_private_key failed: MPC error -8: "
                                           "Error Kind: Error in MPC Executor, Context: The provided public key(`")
        else:
            assert str(e.value).startswith(text), str(e.value)

    with pytest.raises(RuntimeError) as e:
        xclient.derive_pubkey("zz", [])
    assert str(e.value).startswith("get_pubkey failed: MPC error -3: Error Kind: Invalid secret Share")
    with pytest.raises(RuntimeError) as e:
        xclient.export_id("")
    assert str(e.value).startswith("export_id failed: MPC error -3: ")
    with pytest.raises(RuntimeError) as e:
        await kwm.PyExportableEd25519("a/b").create_room(2, "")
    assert str(e.value).startswith("create_room failed: Invalid host URL: ")


async def test_unused_arguments_still_convert(xclient, key_2_of_3):
    share = key_2_of_3[1][0].secret_share
    with pytest.raises(TypeError) as e:
        xclient.import_private_key_importer(ROOM, 2, bytes(32), 1, SECRET, [])
    assert str(e.value) == "argument '_is_raw': 'int' object cannot be converted to 'PyBool'"
    with pytest.raises(OverflowError):
        xclient.derive_pubkey(share, [2 ** 32])
    with pytest.raises(TypeError) as e:
        xclient.sign(ROOM, share, "text", [])
    assert str(e.value).startswith("argument 'message': ")
