"""End to end through the local relay: several parties in one event loop."""
import asyncio
import hashlib

import coincurve
import pytest
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, utils

import karvane_wallet_mpc as kwm
from conftest import Party, keygen

pytestmark = pytest.mark.asyncio

B58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"
N = 0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEBAAEDCE6AF48A03BBFD25E8CD0364141


def b58check_decode(text):
    num = 0
    for ch in text:
        num = num * 58 + B58.index(ch)
    raw = num.to_bytes((num.bit_length() + 7) // 8, "big")
    raw = b"\0" * (len(text) - len(text.lstrip("1"))) + raw
    payload, check = raw[:-4], raw[-4:]
    assert hashlib.sha256(hashlib.sha256(payload).digest()).digest()[:4] == check
    return payload


def verify_independently(sig, msg_hash, pubkey_uncompressed):
    """The signature checks out with two libraries that are not ours."""
    digest = msg_hash.as_bytes()
    pub = coincurve.PublicKey(bytes(pubkey_uncompressed))
    assert pub.verify(bytes(sig.der), digest, hasher=None)
    recovered = coincurve.PublicKey.from_signature_and_message(
        bytes(sig.r) + bytes(sig.s) + bytes([sig.v - 27]), digest, hasher=None)
    assert recovered.format(compressed=False) == bytes(pubkey_uncompressed)
    key = ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256K1(), bytes(pubkey_uncompressed))
    key.verify(bytes(sig.der), digest, ec.ECDSA(utils.Prehashed(hashes.SHA256())))
    r, s = utils.decode_dss_signature(bytes(sig.der))
    assert r.to_bytes(32, "big") == bytes(sig.r) and s.to_bytes(32, "big") == bytes(sig.s)


async def sign_with(client, shares, msg_hash, path):
    room = await client.create_room(len(shares), "")
    return await asyncio.gather(*(client.sign(room, s, msg_hash, path) for s in shares))


async def test_keygen_gives_every_party_the_same_key(key_2_of_3):
    parties, results = key_2_of_3
    assert len({bytes(r.pubkey_uncompressed) for r in results}) == 1
    full = results[0].pubkey_uncompressed
    assert len(full) == 65 and full[0] == 4
    assert bytes(results[0].pubkey_compressed) == coincurve.PublicKey(bytes(full)).format(compressed=True)
    assert len({r.secret_share for r in results}) == 3


@pytest.mark.parametrize("signers, path", [((0, 1), []), ((1, 2), [0, 7]), ((2, 0), [2 ** 31 - 1])])
async def test_two_parties_sign_and_others_verify(client, key_2_of_3, signers, path):
    parties, results = key_2_of_3
    msg_hash = kwm.PyMessageHash.sha256(f"pay {signers} along {path}".encode())
    sigs = await sign_with(client, [parties[i].share for i in signers], msg_hash, path)
    full, compressed = client.derive_pubkey(parties[0].share, path)
    assert compressed[0] in (2, 3) and compressed[1:] == full[1:33]
    if not path:
        assert full == results[0].pubkey_uncompressed
    for sig in sigs:
        assert 27 <= sig.v <= 28
        verify_independently(sig, msg_hash, full)


async def test_hardened_index_fails_only_when_awaited(client, key_2_of_3):
    parties, _ = key_2_of_3
    fut = client.sign("0" * 32, parties[0].share, kwm.PyMessageHash("00" * 32), [2 ** 31])
    with pytest.raises(kwm.MPCError) as e:
        await fut
    assert str(e.value).startswith("Executor error: ")


async def test_export_hands_the_key_to_one_party_only(client, key_2_of_3):
    parties, results = key_2_of_3
    receiver = client.export_id(parties[1].share)
    room = await client.create_room(2, "")
    got = await asyncio.gather(*(client.export_full_private_key(room, p.share, receiver) for p in parties[:2]))
    assert got[0] is None and isinstance(got[1], str)
    payload = b58check_decode(got[1])
    assert len(payload) == 78 and payload[:4] == bytes.fromhex("0488ade4") and payload[45] == 0
    secret = payload[46:78]
    assert coincurve.PublicKey.from_secret(secret).format(compressed=False) == bytes(results[0].pubkey_uncompressed)
    # The child keys derived from the exported key match the public derivation.
    path = [3, 9]
    child = client.derive_private_key_from_xpriv(got[1], path)
    full, _ = client.derive_pubkey(parties[2].share, path)
    assert coincurve.PublicKey.from_secret(bytes(child)).format(compressed=False) == bytes(full)


async def test_refresh_keeps_the_key_and_refreshed_shares_sign(client):
    parties, results = await keygen(client, 3, 2)
    room = await client.create_room(3, "")
    refreshed = await asyncio.gather(*(client.refresh(room, p.share) for p in parties))
    for r, p in zip(refreshed, parties):
        assert r.pubkey_uncompressed == results[0].pubkey_uncompressed
        assert r.secret_share != p.share
    msg_hash = kwm.PyMessageHash.keccak256(b"after refresh")
    sigs = await sign_with(client, [refreshed[0].secret_share, refreshed[2].secret_share], msg_hash, [])
    verify_independently(sigs[0], msg_hash, results[0].pubkey_uncompressed)


async def test_reshare_to_a_new_party_keeps_the_key(client):
    old, results = await keygen(client, 2, 2)
    newcomer = Party(client)
    ids = [client.export_id(p.share) for p in old] + [newcomer.keygen_id]
    room = await client.create_room(3, "")
    out = await asyncio.gather(
        *(client.reshare_remaining_party(room, 2, p.share, ids) for p in old),
        client.reshare_new_party(room, 2, newcomer.keygen_secret, ids))
    assert {bytes(r.pubkey_uncompressed) for r in out} == {bytes(results[0].pubkey_uncompressed)}
    msg_hash = kwm.PyMessageHash.sha256(b"after reshare")
    sigs = await sign_with(client, [out[0].secret_share, out[2].secret_share], msg_hash, [])
    verify_independently(sigs[1], msg_hash, results[0].pubkey_uncompressed)


async def test_import_of_a_known_key(client):
    secret = hashlib.sha256(b"a known private key").digest()
    importer, recipients = Party(client), [Party(client), Party(client)]
    ids = [importer.keygen_id] + [p.keygen_id for p in recipients]
    room = await client.create_room(3, "")
    out = await asyncio.gather(
        client.import_private_key_importer(room, 2, list(secret), importer.keygen_secret, ids),
        *(client.import_private_key_recipient(room, 2, p.keygen_secret, ids) for p in recipients))
    expected = coincurve.PublicKey.from_secret(secret).format(compressed=False)
    assert all(bytes(r.pubkey_uncompressed) == expected for r in out)
    msg_hash = kwm.PyMessageHash.sha256(b"imported")
    sigs = await sign_with(client, [out[1].secret_share, out[2].secret_share], msg_hash, [])
    verify_independently(sigs[0], msg_hash, list(expected))


async def test_cancelled_awaitable_leaves_the_process_healthy(client, key_2_of_3):
    parties, results = key_2_of_3
    msg_hash = kwm.PyMessageHash.sha256(b"cancelled")
    room = await client.create_room(2, "")
    # The first party joins and waits in the room for the second one.
    dropped = client.sign(room, parties[1].share, msg_hash, [])
    await asyncio.sleep(0.1)
    assert not dropped.done()
    dropped.cancel()
    with pytest.raises(asyncio.CancelledError):
        await dropped
    # The library runs the cancelled party's side to its end (its late
    # callback only frees its context), so the other party still gets a
    # signature, or at worst a clean MPCError; never a hang or a crash.
    try:
        sig = await asyncio.wait_for(client.sign(room, parties[0].share, msg_hash, []), 120)
        verify_independently(sig, msg_hash, results[0].pubkey_uncompressed)
    except kwm.MPCError:
        pass
    # And the module keeps serving.
    sigs = await sign_with(client, [parties[0].share, parties[2].share], msg_hash, [])
    verify_independently(sigs[0], msg_hash, results[0].pubkey_uncompressed)


async def test_twenty_concurrent_signings(client, key_2_of_3):
    parties, results = key_2_of_3
    hashes_ = [kwm.PyMessageHash.sha256(f"message {i}".encode()) for i in range(20)]
    rooms = await asyncio.gather(*(client.create_room(2, "") for _ in hashes_))
    futs = []
    for room, h in zip(rooms, hashes_):
        futs += [client.sign(room, parties[0].share, h, []), client.sign(room, parties[1].share, h, [])]
    sigs = await asyncio.gather(*futs)
    for i, h in enumerate(hashes_):
        a, b = sigs[2 * i], sigs[2 * i + 1]
        assert (a.r, a.s) == (b.r, b.s)
        verify_independently(a, h, results[0].pubkey_uncompressed)
