"""The module's surface and the value classes (no network)."""
import hashlib

import pytest

import karvane_wallet_mpc as kwm


def test_all_lists_the_names_in_registration_order():
    assert kwm.__all__ == ["MPCError", "PyInitKeygenResult", "PyMessageHash", "PyEcdsaKeygenResult",
                           "PyEcdsaSignature", "PyEd25519KeygenResult", "PyEcdsa", "PyEd25519",
                           "PyExportableEd25519"]
    assert all(getattr(kwm, name) is not None for name in kwm.__all__)
    assert not [n for n in dir(kwm) if callable(getattr(kwm, n)) and not isinstance(getattr(kwm, n), type)]
    assert kwm.__doc__ == ""


def test_mpc_error_is_a_plain_exception_of_the_module():
    assert issubclass(kwm.MPCError, Exception)
    assert kwm.MPCError.__module__ == "karvane_wallet_mpc"
    assert kwm.MPCError.__qualname__ == "MPCError"
    assert kwm.MPCError.__doc__ is None


def test_ed25519_offers_its_twelve_methods_in_order():
    names = [n for n in vars(kwm.PyEd25519) if not n.startswith("__")]
    assert names == ["init_keygen", "create_room", "keygen", "sign", "derive_pubkey", "refresh", "export_id",
                     "export_full_private_key", "import_private_key_importer", "import_private_key_recipient",
                     "reshare_new_party", "reshare_remaining_party"]
    assert all(getattr(kwm.PyEd25519, n).__doc__ is None for n in names)


@pytest.mark.parametrize("cls, signature", [
    (kwm.PyEcdsa, "(host_url)"),
    (kwm.PyEd25519, "(host_url)"),
    (kwm.PyMessageHash, "(hex_str)"),
    (kwm.PyInitKeygenResult, "(keygen_id, keygen_secret)"),
    (kwm.PyEcdsaSignature, None),
    (kwm.PyEcdsaKeygenResult, None),
    (kwm.PyEd25519KeygenResult, None),
    (kwm.PyExportableEd25519, "(host_url)"),
])
def test_class_names_and_text_signatures(cls, signature):
    assert cls.__module__ == "karvane_wallet_mpc"
    assert cls.__qualname__ == cls.__name__
    assert cls.__text_signature__ == signature
    if signature is None:
        assert cls.__doc__ is None


@pytest.mark.parametrize("method, signature", [
    (kwm.PyEcdsa.keygen, "($self, room_uuid, n, t, keygen_secret, keygen_ids)"),
    (kwm.PyEcdsa.sign, "($self, room_uuid, secret_share, msg_hash, derivation_path)"),
    (kwm.PyEcdsa.init_keygen, "($self)"),
    (kwm.PyEcdsa.import_private_key_importer,
     "($self, room_uuid, threshold, private_key, keygen_secret, keygen_ids)"),
    (kwm.PyEd25519.sign, "($self, room_uuid, secret_share, message, derivation_path)"),
    (kwm.PyEd25519.import_private_key_importer,
     "($self, room_uuid, threshold, private_key, is_raw, keygen_secret, keygen_ids)"),
    (kwm.PyEd25519.derive_pubkey, "($self, secret_share, derivation_path)"),
    (kwm.PyMessageHash.sha256, "(data)"),
    (kwm.PyMessageHash.to_hex, "($self)"),
    (kwm.PyInitKeygenResult.keygen_secret_hex, "($self)"),
    (kwm.PyExportableEd25519.receive_key, "($self, room_uuid, n, t, keygen_secret, keygen_ids)"),
    (kwm.PyExportableEd25519.sign, "($self, room_uuid, secret_share, message, _derivation_path)"),
    (kwm.PyExportableEd25519.import_private_key_importer,
     "($self, room_uuid, threshold, private_key, _is_raw, keygen_secret, keygen_ids)"),
])
def test_method_text_signatures(method, signature):
    assert method.__text_signature__ == signature


@pytest.mark.parametrize("cls", [kwm.PyEcdsa, kwm.PyEd25519, kwm.PyExportableEd25519, kwm.PyMessageHash,
                                 kwm.PyInitKeygenResult, kwm.PyEcdsaSignature, kwm.PyEcdsaKeygenResult,
                                 kwm.PyEd25519KeygenResult])
def test_classes_cannot_be_subclassed(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("cls", [kwm.PyEcdsaSignature, kwm.PyEcdsaKeygenResult, kwm.PyEd25519KeygenResult])
def test_result_classes_have_no_constructor(cls):
    with pytest.raises(TypeError) as e:
        cls()
    assert str(e.value) == f"No constructor defined for {cls.__name__}"


def test_reimport_gives_the_same_module_and_no_second_runtime():
    import os
    import sys
    threads_before = len(os.listdir("/proc/self/task"))
    first = sys.modules.pop("karvane_wallet_mpc")
    try:
        import karvane_wallet_mpc as again
        assert again is first
        assert again.PyEcdsa is kwm.PyEcdsa
        assert len(os.listdir("/proc/self/task")) == threads_before
    finally:
        sys.modules["karvane_wallet_mpc"] = first


# --- PyMessageHash ------------------------------------------------------------

def test_message_hash_from_hex_of_either_case():
    h = kwm.PyMessageHash("AB" * 32)
    assert h.to_hex() == "ab" * 32
    assert h.as_bytes() == b"\xab" * 32
    assert kwm.PyMessageHash(hex_str="0f" * 32).as_bytes() == b"\x0f" * 32


@pytest.mark.parametrize("text, message", [
    ("a" * 63, "Odd number of digits"),
    ("ab" * 31, "MessageHash must be exactly 32 bytes"),
    ("ab" * 33, "MessageHash must be exactly 32 bytes"),
    ("", "MessageHash must be exactly 32 bytes"),
    ("0x" + "ab" * 31, "Invalid character 'x' at position 1"),
    ("ab" * 31 + "g0", "Invalid character 'g' at position 62"),
    ("ab" * 31 + " 0", "Invalid character ' ' at position 62"),
])
def test_message_hash_refuses_bad_hex(text, message):
    with pytest.raises(ValueError) as e:
        kwm.PyMessageHash(text)
    assert str(e.value) == message


# Published answers: FIPS 180-2 (SHA-256 of "abc" and of the empty string) and
# the original Keccak-256 (as used by Ethereum), not SHA3-256.
@pytest.mark.parametrize("fn, data, digest", [
    ("sha256", b"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"),
    ("sha256", b"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"),
    ("keccak256", b"", "c5d2460186f7233c927e7db2dcc703c0e500b653ca82273b7bfad8045d85a470"),
    ("keccak256", b"abc", "4e03657aea45a94fc7d47ba826c8d667c0d1e6e33a64a036ec44f58fa12d6c45"),
])
def test_message_hash_digests_match_published_answers(fn, data, digest):
    assert getattr(kwm.PyMessageHash, fn)(data).to_hex() == digest


def test_sha256_of_a_long_input_matches_hashlib_and_keccak_is_not_sha3():
    data = bytes(range(256)) * 41
    assert kwm.PyMessageHash.sha256(data).as_bytes() == hashlib.sha256(data).digest()
    assert kwm.PyMessageHash.keccak256(b"").as_bytes() != hashlib.sha3_256(b"").digest()


def test_digest_static_methods_work_on_an_instance_and_refuse_bytearray():
    h = kwm.PyMessageHash("00" * 32)
    assert h.sha256(b"abc").to_hex() == kwm.PyMessageHash.sha256(b"abc").to_hex()
    with pytest.raises(TypeError) as e:
        kwm.PyMessageHash.sha256(bytearray(b"abc"))
    assert str(e.value).startswith("argument 'data': 'bytearray' object cannot be converted to")


def test_message_hash_refuses_bytes_as_hex_str():
    with pytest.raises(TypeError) as e:
        kwm.PyMessageHash(b"ab" * 32)
    assert str(e.value).startswith("argument 'hex_str': 'bytes' object cannot be converted to")


# --- PyInitKeygenResult -------------------------------------------------------

def test_init_keygen_result_keeps_any_secret_and_copies_on_read():
    r = kwm.PyInitKeygenResult("id", [])
    assert r.keygen_secret_hex() == ""
    r = kwm.PyInitKeygenResult(keygen_id="k", keygen_secret=b"\x01\xff")
    assert r.keygen_secret_hex() == "01ff"
    lst = r.keygen_secret
    lst.append(7)
    assert r.keygen_secret == [1, 255]
    with pytest.raises(AttributeError):
        r.keygen_id = "other"
    with pytest.raises(TypeError) as e:
        kwm.PyInitKeygenResult("k", "ab")
    assert "argument 'keygen_secret'" in str(e.value)


def test_init_keygen_gives_a_fresh_32_byte_identity():
    client = kwm.PyEcdsa("")
    a, b = client.init_keygen(), client.init_keygen()
    assert len(a.keygen_secret) == 32 and a.keygen_secret != b.keygen_secret
    assert a.keygen_id != b.keygen_id
    assert a.keygen_secret_hex() == bytes(a.keygen_secret).hex()


def test_exportable_class_and_method_docs():
    cls = kwm.PyExportableEd25519
    assert cls.__doc__ == ("Python wrapper for the ExportableEd25519 MPC protocol.\n\nUsed for Solana (SVM) wallets. "
                           "The server calls `sampleKey` and the\nclient calls `receiveKey` (this class).")
    assert [m for m in vars(cls) if not m.startswith("_")] == [
        "init_keygen", "create_room", "receive_key", "sign", "derive_pubkey", "export_id", "refresh",
        "export_full_private_key", "import_private_key_recipient", "import_private_key_importer"]
    assert cls.init_keygen.__doc__ == "Shared with regular Ed25519 \u2014 uses the MPC init_keygen primitive."
    assert cls.derive_pubkey.__doc__ == ("Get the public key for a secret share (synchronous).\n"
                                         "_derivation_path: accepted for API compatibility, ignored.")
    assert cls.import_private_key_recipient.__doc__ == (
        "Import a private key \u2014 recipient side (no private key, receives a share).")
