"""Argument conventions: conversion faults at call time, the module's own
checks through the awaitable, and the library's refusals as MPCError."""
import asyncio

import pytest

import karvane_wallet_mpc as kwm

ROOM = "0" * 32
SECRET = [1] * 32
HASH = kwm.PyMessageHash("11" * 32)
OVERFLOW = "out of range integral type conversion attempted"


def refusal(type_name, kind):
    return f"'{type_name}' object cannot be converted to '{kind}'"


# The three checks below serve every client class whose methods follow these
# conventions (PyEcdsa here, PyEd25519 in test_ed25519).

def assert_conversion_fault(client, method, args, exc, text):
    """Calling raises exc at once; a TypeError is named after the parameter."""
    with pytest.raises(exc) as e:
        getattr(client, method)(*args)
    assert type(e.value) is exc
    if text is not None:
        assert str(e.value) == text
    if exc is TypeError:
        # Named after the parameter, with the unnamed refusal as its cause.
        assert str(e.value).startswith("argument '")
        assert isinstance(e.value.__cause__, TypeError)
        assert str(e.value) == str(e.value).split(": ", 1)[0] + ": " + str(e.value.__cause__)
    else:
        assert "argument '" not in str(e.value)


async def assert_check_fails_when_awaited(client, method, args, text):
    """The call returns a future; awaiting it raises the check's ValueError."""
    fut = getattr(client, method)(*args)
    assert isinstance(fut, asyncio.Future)
    with pytest.raises(ValueError) as e:
        await fut
    assert str(e.value) == text


async def assert_library_refusal(client, method, args, prefix):
    with pytest.raises(kwm.MPCError) as e:
        await getattr(client, method)(*args)
    assert str(e.value).startswith(prefix)


# (method, args, exception type, exact text or None when only the prefix is ours)
CONVERSION_FAULTS = [
    ("keygen", (5, 3, 2, SECRET, []), TypeError, "argument 'room_uuid': " + refusal("int", "PyString")),
    ("keygen", (ROOM, 65536, 2, SECRET, []), OverflowError, OVERFLOW),
    ("keygen", (ROOM, -1, 2, SECRET, []), OverflowError, OVERFLOW),
    ("keygen", (ROOM, 2 ** 70, 2, SECRET, []), OverflowError, None),
    ("keygen", (ROOM, 3.0, 2, SECRET, []), TypeError, None),
    ("keygen", (ROOM, 3, 2, "ab", []), TypeError, None),
    ("keygen", (ROOM, 3, 2, {1: 2}, []), TypeError, "argument 'keygen_secret': " + refusal("dict", "Sequence")),
    ("keygen", (ROOM, 3, 2, [1, 256], []), OverflowError, OVERFLOW),
    ("keygen", (ROOM, 3, 2, [1, -1], []), OverflowError, OVERFLOW),
    ("keygen", (ROOM, 3, 2, SECRET, ["a", 1]), TypeError, "argument 'keygen_ids': " + refusal("int", "PyString")),
    ("keygen", (ROOM, 3, 2, SECRET, "ab"), TypeError, None),
    ("sign", (ROOM, "s", b"\x11" * 32, []), TypeError, "argument 'msg_hash': " + refusal("bytes", "PyMessageHash")),
    ("sign", (ROOM, "s", "11" * 32, []), TypeError, "argument 'msg_hash': " + refusal("str", "PyMessageHash")),
    ("sign", (ROOM, "s", HASH, [2 ** 32]), OverflowError, OVERFLOW),
    ("sign", (ROOM, "s", HASH, [1.5]), TypeError, None),
    ("sign", (ROOM, 7, HASH, []), TypeError, "argument 'secret_share': " + refusal("int", "PyString")),
    ("refresh", (ROOM, None), TypeError, "argument 'secret_share': " + refusal("NoneType", "PyString")),
    ("create_room", (70000, ""), OverflowError, OVERFLOW),
    ("create_room", (2, None), TypeError, "argument 'api_key': " + refusal("NoneType", "PyString")),
    ("export_full_private_key", (ROOM, "s", 1), TypeError, "argument 'export_to': " + refusal("int", "PyString")),
    ("import_private_key_importer", (ROOM, 1, "k" * 32, SECRET, []), TypeError, None),
    ("import_private_key_recipient", (ROOM, -5, SECRET, []), OverflowError, OVERFLOW),
    ("reshare_new_party", (ROOM, 1, SECRET, [b"x"]), TypeError, None),
    ("reshare_remaining_party", (ROOM, 1, "s", 5), TypeError, "argument 'keygen_ids': " + refusal("int", "Sequence")),
    ("derive_pubkey", ("s", [0, "1"]), TypeError, None),
    ("derive_private_key_from_xpriv", (1, []), TypeError, "argument 'xpriv': " + refusal("int", "PyString")),
    ("export_id", (b"s",), TypeError, "argument 'secret_share': " + refusal("bytes", "PyString")),
]

PARAM_OF = {"keygen": ["room_uuid", "n", "t", "keygen_secret", "keygen_ids"],
            "sign": ["room_uuid", "secret_share", "msg_hash", "derivation_path"]}


@pytest.mark.parametrize("method, args, exc, text", CONVERSION_FAULTS)
def test_conversion_faults_raise_at_call(method, args, exc, text):
    assert_conversion_fault(kwm.PyEcdsa("127.0.0.1:1"), method, args, exc, text)


def test_constructor_refuses_a_non_text_host_naming_the_parameter():
    with pytest.raises(TypeError) as e:
        kwm.PyEcdsa(5)
    assert str(e.value) == "argument 'host_url': " + refusal("int", "PyString")
    assert str(e.value.__cause__) == refusal("int", "PyString")
    assert kwm.PyEcdsa(host_url="h") is not None


def test_a_text_without_utf8_form_raises_unicode_encode_error():
    with pytest.raises(UnicodeEncodeError):
        kwm.PyEcdsa("\ud800")


@pytest.mark.parametrize("call, fragment", [
    (lambda c: c.keygen(ROOM, 3), "PyEcdsa.keygen() missing 3 required positional arguments"),
    (lambda c: c.refresh(ROOM, "s", "x"), "PyEcdsa.refresh() takes 2 positional arguments but 3 were given"),
    (lambda c: c.export_id(share="s"), "PyEcdsa.export_id() got an unexpected keyword argument 'share'"),
    (lambda c: c.export_id("s", secret_share="s"), "PyEcdsa.export_id() got multiple values for argument"),
])
def test_argument_matching_errors(call, fragment):
    with pytest.raises(TypeError) as e:
        call(kwm.PyEcdsa(""))
    assert str(e.value).startswith(fragment)


def test_bool_is_an_integer_and_byte_lists_take_any_sequence():
    client = kwm.PyEcdsa("")
    # Converted without complaint; there is no running loop, so the bridge refuses afterwards.
    for secret in (bytes(32), bytearray(32), tuple(SECRET), SECRET):
        with pytest.raises(RuntimeError):
            client.keygen(ROOM, True, True, secret, [])


def test_conversion_faults_come_before_the_missing_loop():
    client = kwm.PyEcdsa("")
    with pytest.raises(OverflowError):
        client.keygen(ROOM, 65536, 1, SECRET, [])
    with pytest.raises(RuntimeError):
        client.keygen(ROOM, 0, 0, SECRET, [])


# --- the module's own checks, through the awaitable ---------------------------

VALUE_CHECKS = [
    ("keygen", (ROOM, 0, 0, SECRET, []), "n must be > 0"),
    ("keygen", (ROOM, 3, 0, [1] * 31, []), "t must be > 0"),
    ("keygen", (ROOM, 3, 2, [1] * 33, []), "keygen_secret must be 32 bytes"),
    ("create_room", (0, ""), "n must be > 0"),
    ("import_private_key_importer", (ROOM, 0, [1] * 31, [1] * 31, []), "threshold must be > 0"),
    ("import_private_key_importer", (ROOM, 1, [1] * 31, [1] * 31, []), "private_key must be 32 bytes"),
    ("import_private_key_importer", (ROOM, 1, SECRET, [1] * 31, []), "keygen_secret must be 32 bytes"),
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
    await assert_check_fails_when_awaited(kwm.PyEcdsa(""), method, args, text)


# --- the library's refusals -----------------------------------------------------

LIBRARY_REFUSALS = [
    ("", "create_room", (2, ""), "Invalid host URL: "),
    ("", "keygen", (ROOM, 3, 2, SECRET, []), "Invalid host URL: "),
    ("h:1", "keygen", ("abc", 3, 2, SECRET, []), "Invalid UUID: "),
    ("h:1", "keygen", (ROOM, 9000, 2, SECRET, []), "Invalid number of parties: "),
    ("h:1", "keygen", (ROOM, 3, 2, SECRET, ["not-an-id"]), "Invalid keygen ID: "),
    ("h:1", "create_room", (9000, ""), "Executor error: "),
    ("h:1", "sign", (ROOM, "", HASH, []), "Invalid secret share: "),
    ("h:1", "refresh", (ROOM, "zz"), "Invalid secret share: "),
    ("h:1", "reshare_remaining_party", (ROOM, 9000, "zz", []), "Invalid number of parties: "),
    ("h:1", "import_private_key_recipient", (ROOM, 2, SECRET, ["x"]), "Invalid keygen ID: "),
]


@pytest.mark.asyncio
@pytest.mark.parametrize("host, method, args, prefix", LIBRARY_REFUSALS)
async def test_library_refusals_raise_mpc_error(host, method, args, prefix):
    await assert_library_refusal(kwm.PyEcdsa(host), method, args, prefix)


@pytest.mark.parametrize("method, args, prefix", [
    ("derive_pubkey", ("", []), "Invalid secret share: "),
    ("export_id", ("nothex",), "Invalid secret share: "),
    ("derive_private_key_from_xpriv", ("xprvnot", []), "Invalid extended private key: "),
])
def test_synchronous_refusals_raise_at_call(method, args, prefix):
    with pytest.raises(kwm.MPCError) as e:
        getattr(kwm.PyEcdsa(""), method)(*args)
    assert str(e.value).startswith(prefix)
