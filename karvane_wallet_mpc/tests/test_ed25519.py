"""PyEd25519 end to end against the local relay, with PyNaCl and
`cryptography` as independent oracles, and its argument conventions."""
import asyncio
import hashlib

import nacl.bindings
import pytest
import pytest_asyncio
from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey
from nacl.signing import VerifyKey

import karvane_wallet_mpc as kwm

from conftest import Party, keygen
from test_arguments import (OVERFLOW, ROOM, SECRET, assert_check_fails_when_awaited, assert_conversion_fault,
                            assert_library_refusal, refusal)
from test_ecdsa_e2e import b58check_decode

# RFC 8032, section 7.1, TEST 1: the secret key (seed) and its public key.
RFC8032_SEED = bytes.fromhex("9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60")
RFC8032_PUBLIC = bytes.fromhex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a")
GROUP_ORDER = 2 ** 252 + 27742317777372353535851937790883648493


def verify(pubkey, message, signature):
    """Raises unless the signature verifies (PyNaCl)."""
    VerifyKey(bytes(pubkey)).verify(bytes(message), bytes(signature))


def seed_scalar(seed):
    """The RFC 8032 secret scalar of a seed, little-endian, reduced mod l."""
    h = bytearray(hashlib.sha512(seed).digest()[:32])
    h[0] &= 0xF8
    h[31] &= 0x3F
    h[31] |= 0x40
    return (int.from_bytes(h, "little") % GROUP_ORDER).to_bytes(32, "little")


def spriv_scalar(text):
    """The 32-byte scalar of an spriv text."""
    payload = b58check_decode(text)
    assert len(payload) == 78 and payload[:4] == bytes.fromhex("0420b900")
    return payload[46:]


@pytest.fixture(scope="session")
def ed(relay_host):
    return kwm.PyEd25519(relay_host)


@pytest_asyncio.fixture(scope="session")
async def ed_key(ed):
    """One 2-of-3 Ed25519 key for the tests that only read it."""
    return await keygen(ed, 3, 2)


async def sign_with(ed, parties, message, path):
    room = await ed.create_room(len(parties), "")
    return await asyncio.gather(*(ed.sign(room, p.share, message, path) for p in parties))


@pytest.mark.asyncio
async def test_keygen_gives_one_32_byte_key_and_two_parties_sign(ed, ed_key):
    parties, results = ed_key
    pubkey = results[0].pubkey
    assert len(pubkey) == 32 and all(r.pubkey == pubkey for r in results)
    assert all(ed.export_id(p.share) == p.keygen_id for p in parties)
    assert ed.derive_pubkey(parties[1].share, []) == pubkey

    for message, path in ((b"", []), (bytes(range(32)), [1, 2]), (b"x" * 1000, [7])):
        sigs = await sign_with(ed, [parties[0], parties[2]], message, path)
        assert sigs[0] == sigs[1]
        assert len(sigs[0]) == 64 and all(0 <= b <= 255 for b in sigs[0])
        verify(ed.derive_pubkey(parties[1].share, path), message, sigs[0])


@pytest.mark.asyncio
async def test_a_hardened_index_fails_only_when_awaited(ed, ed_key):
    parties, _ = ed_key
    room = await ed.create_room(1, "")
    fut = ed.sign(room, parties[0].share, b"m", [2 ** 31])
    with pytest.raises(kwm.MPCError) as e:
        await fut
    assert str(e.value).startswith("Executor error: ")
    with pytest.raises(kwm.MPCError) as e:
        ed.derive_pubkey(parties[0].share, [2 ** 31])
    assert str(e.value).startswith("Invalid derivation element: ")


@pytest.mark.asyncio
async def test_export_gives_the_receiver_the_key_and_the_others_none(ed, ed_key):
    parties, results = ed_key
    receiver = ed.export_id(parties[1].share)
    room = await ed.create_room(2, "")
    out = await asyncio.gather(*(ed.export_full_private_key(room, p.share, receiver) for p in parties[:2]))
    assert out[0] is None
    assert isinstance(out[1], str)
    scalar = spriv_scalar(out[1])
    assert nacl.bindings.crypto_scalarmult_ed25519_base_noclamp(scalar) == bytes(results[0].pubkey)


@pytest.mark.asyncio
async def test_refresh_keeps_the_key_and_renews_shares_and_export_ids(ed, ed_key):
    parties, results = ed_key
    room = await ed.create_room(3, "")
    renewed = await asyncio.gather(*(ed.refresh(room, p.share) for p in parties))
    for p, r in zip(parties, renewed):
        assert r.pubkey == results[0].pubkey
        assert r.secret_share != p.share
        assert ed.export_id(r.secret_share) != ed.export_id(p.share)
        assert ed.derive_pubkey(r.secret_share, [5]) == ed.derive_pubkey(p.share, [5])
    fresh = [Party(ed), Party(ed)]
    fresh[0].share, fresh[1].share = renewed[1].secret_share, renewed[2].secret_share
    sigs = await sign_with(ed, fresh, b"after refresh", [])
    verify(results[0].pubkey, b"after refresh", sigs[0])


@pytest.mark.asyncio
async def test_reshare_to_three_of_four_keeps_the_key(ed, ed_key):
    parties, results = ed_key
    newcomers = [Party(ed), Party(ed)]
    ids = [ed.export_id(parties[0].share), ed.export_id(parties[2].share)] + [p.keygen_id for p in newcomers]
    room = await ed.create_room(4, "")
    out = await asyncio.gather(
        ed.reshare_remaining_party(room, 3, parties[0].share, ids),
        ed.reshare_remaining_party(room, 3, parties[2].share, ids),
        *(ed.reshare_new_party(room, 3, p.keygen_secret, ids) for p in newcomers))
    assert all(r.pubkey == results[0].pubkey for r in out)
    signers = [Party(ed) for _ in range(3)]
    for s, r in zip(signers, out[1:]):
        s.share = r.secret_share
    sigs = await sign_with(ed, signers, b"after reshare", [3])
    verify(ed.derive_pubkey(parties[1].share, [3]), b"after reshare", sigs[0])


@pytest.mark.asyncio
@pytest.mark.parametrize("key, is_raw", [(RFC8032_SEED, False), (seed_scalar(RFC8032_SEED), True)])
async def test_import_of_the_rfc8032_key(ed, key, is_raw):
    published = Ed25519PrivateKey.from_private_bytes(RFC8032_SEED).public_key().public_bytes(
        serialization.Encoding.Raw, serialization.PublicFormat.Raw)
    assert published == RFC8032_PUBLIC
    importer, recipient = Party(ed), Party(ed)
    room = await ed.create_room(2, "")
    out = await asyncio.gather(
        ed.import_private_key_importer(room, 2, key, is_raw, importer.keygen_secret, [recipient.keygen_id]),
        ed.import_private_key_recipient(room, 2, recipient.keygen_secret, [importer.keygen_id]))
    assert all(bytes(r.pubkey) == RFC8032_PUBLIC for r in out)
    importer.share, recipient.share = out[0].secret_share, out[1].secret_share
    sigs = await sign_with(ed, [importer, recipient], b"imported", [])
    verify(RFC8032_PUBLIC, b"imported", sigs[0])


# --- arguments --------------------------------------------------------------------

CONVERSION_FAULTS = [
    ("sign", (ROOM, "s", "abc", []), TypeError, None),
    ("sign", (ROOM, "s", b"m", [2 ** 32]), OverflowError, OVERFLOW),
    ("sign", (ROOM, "s", [256], []), OverflowError, OVERFLOW),
    ("import_private_key_importer", (ROOM, 1, SECRET, 1, SECRET, []), TypeError,
     "argument 'is_raw': " + refusal("int", "PyBool")),
    ("import_private_key_importer", (ROOM, 1, SECRET, None, SECRET, []), TypeError,
     "argument 'is_raw': " + refusal("NoneType", "PyBool")),
    ("keygen", (ROOM, 3, 2, "secret", []), TypeError, None),
    ("derive_pubkey", ("s", [-1]), OverflowError, OVERFLOW),
    ("export_id", (1,), TypeError, "argument 'secret_share': " + refusal("int", "PyString")),
]


@pytest.mark.parametrize("method, args, exc, text", CONVERSION_FAULTS)
def test_conversion_faults_raise_at_call(method, args, exc, text):
    assert_conversion_fault(kwm.PyEd25519("127.0.0.1:1"), method, args, exc, text)


VALUE_CHECKS = [
    ("keygen", (ROOM, 0, 0, SECRET, []), "n must be > 0"),
    ("keygen", (ROOM, 3, 0, [1] * 31, []), "t must be > 0"),
    ("keygen", (ROOM, 3, 2, [1] * 33, []), "keygen_secret must be 32 bytes"),
    ("create_room", (0, ""), "n must be > 0"),
    ("import_private_key_importer", (ROOM, 0, SECRET, True, SECRET, []), "threshold must be > 0"),
    ("import_private_key_importer", (ROOM, 1, [1] * 31, False, [1] * 31, []), "private_key must be 32 bytes"),
    ("import_private_key_importer", (ROOM, 1, SECRET, False, [1] * 31, []), "keygen_secret must be 32 bytes"),
    ("import_private_key_recipient", (ROOM, 0, SECRET, []), "threshold must be > 0"),
    ("import_private_key_recipient", (ROOM, 2, [], []), "keygen_secret must be 32 bytes"),
    ("reshare_new_party", (ROOM, 0, SECRET, []), "threshold must be > 0"),
    ("reshare_new_party", (ROOM, 1, [0] * 64, []), "keygen_secret must be 32 bytes"),
    ("reshare_remaining_party", (ROOM, 0, "share", []), "threshold must be > 0"),
]


@pytest.mark.asyncio
@pytest.mark.parametrize("method, args, text", VALUE_CHECKS)
async def test_module_checks_fail_through_the_awaitable(method, args, text):
    # The host is empty: had the library been called, it would refuse with -2.
    await assert_check_fails_when_awaited(kwm.PyEd25519(""), method, args, text)


LIBRARY_REFUSALS = [
    ("", "keygen", (ROOM, 3, 2, SECRET, []), "Invalid host URL: "),
    ("", "sign", (ROOM, "s", b"", []), "Invalid host URL: "),
    ("h:1", "keygen", (ROOM, 9000, 2, SECRET, []), "Invalid number of parties: "),
    ("h:1", "create_room", (9000, ""), "Executor error: "),
    ("h:1", "sign", (ROOM, "", b"", []), "Invalid secret share: "),
    ("h:1", "refresh", ("abc", "zz"), "Invalid UUID: "),
    ("h:1", "export_full_private_key", (ROOM, "zz", "x"), "Invalid secret share: "),
    ("h:1", "import_private_key_importer", (ROOM, 2, SECRET, True, SECRET, ["x"]), "Invalid keygen ID: "),
    ("h:1", "reshare_remaining_party", (ROOM, 9000, "zz", []), "Invalid number of parties: "),
]


@pytest.mark.asyncio
@pytest.mark.parametrize("host, method, args, prefix", LIBRARY_REFUSALS)
async def test_library_refusals_raise_mpc_error(host, method, args, prefix):
    await assert_library_refusal(kwm.PyEd25519(host), method, args, prefix)


def test_synchronous_methods_work_without_a_host_and_refuse_bad_shares():
    client = kwm.PyEd25519("")
    ident = client.init_keygen()
    assert len(ident.keygen_secret) == 32
    for method, args in (("derive_pubkey", ("", [])), ("export_id", ("nothex",))):
        with pytest.raises(kwm.MPCError) as e:
            getattr(client, method)(*args)
        assert str(e.value).startswith("Invalid secret share: ")
