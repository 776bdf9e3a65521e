"""Typed interface of the karvane_wallet_mpc extension module.

Take part, as one party, in threshold key generation and signing: ECDSA on
secp256k1 (PyEcdsa), FROST Ed25519 (PyEd25519) and exportable Ed25519
(PyExportableEd25519). Parties meet in rooms on a relay.

Conventions of every class:

- Every parameter is required and may be given by position or by keyword.
- Byte lists are accepted as any sequence of ints 0 to 255 except a str
  (bytes, bytearray, list, tuple); they are returned as lists of ints.
- Argument conversion faults raise at call time: TypeError
  ("argument '<name>': ..."), OverflowError for an integer out of range.
- The networked methods return an asyncio.Future of the event loop running
  at call time (none running: RuntimeError at call). The method's own checks
  (ValueError such as "n must be > 0") and every library failure are raised
  when the future is awaited: MPCError for PyEcdsa and PyEd25519,
  RuntimeError for PyExportableEd25519.
- Cancellation: cancelling the future, or asyncio.wait_for timing out on it,
  drops only this caller's wait; it leaves the library's side running. A
  cancelled key generation still completes at the other parties, whose
  shares then have no counterpart, and a retry in the same room fails after
  about 16 s. Use a new room for a retry.
"""

import asyncio
from typing import Optional, Sequence, Tuple, final

__all__ = [
    "MPCError",
    "PyInitKeygenResult",
    "PyMessageHash",
    "PyEcdsaKeygenResult",
    "PyEcdsaSignature",
    "PyEd25519KeygenResult",
    "PyEcdsa",
    "PyEd25519",
    "PyExportableEd25519",
]

class MPCError(Exception):
    """A failure reported by the library (PyEcdsa and PyEd25519); str() is its text."""

# --- value and result classes ------------------------------------------------

@final
class PyInitKeygenResult:
    """A party's keygen identity: its keygen id and 32-byte keygen secret."""

    def __new__(cls, keygen_id: str, keygen_secret: Sequence[int]) -> PyInitKeygenResult: ...
    def keygen_secret_hex(self) -> str:
        """Lowercase hex of keygen_secret."""
    @property
    def keygen_id(self) -> str: ...
    @property
    def keygen_secret(self) -> list[int]:
        """The keygen secret; a new list on every read."""

@final
class PyMessageHash:
    """A 32-byte message digest for PyEcdsa.sign.

    PyMessageHash(hex_str) takes 64 hex digits of either case and raises
    ValueError for anything else.
    """

    def __new__(cls, hex_str: str) -> PyMessageHash: ...
    @staticmethod
    def sha256(data: bytes) -> PyMessageHash:
        """SHA-256 of data (bytes only)."""
    @staticmethod
    def keccak256(data: bytes) -> PyMessageHash:
        """Keccak-256 of data (bytes only; the original Keccak padding, not SHA3-256)."""
    def to_hex(self) -> str:
        """64 lowercase hex digits."""
    def as_bytes(self) -> bytes:
        """The 32 bytes."""

@final
class PyEcdsaKeygenResult:
    """The outcome of an ECDSA key generation, refresh, reshare or import (no constructor)."""

    @property
    def pubkey_uncompressed(self) -> list[int]:
        """The group public key, 65 bytes (SEC1 uncompressed)."""
    @property
    def pubkey_compressed(self) -> list[int]:
        """The group public key, 33 bytes (SEC1 compressed)."""
    @property
    def secret_share(self) -> str:
        """This party's new share; store it, the library keeps nothing."""

@final
class PyEcdsaSignature:
    """An ECDSA signature (no constructor)."""

    @property
    def r(self) -> list[int]:
        """32 bytes."""
    @property
    def s(self) -> list[int]:
        """32 bytes."""
    @property
    def v(self) -> int:
        """27 plus the recovery id."""
    @property
    def der(self) -> list[int]:
        """The DER form of the signature (8 to 72 bytes)."""

@final
class PyEd25519KeygenResult:
    """The outcome of an Ed25519 key generation, refresh, reshare or import (no constructor)."""

    @property
    def pubkey(self) -> list[int]:
        """The group public key, 32 bytes (compressed Edwards point)."""
    @property
    def secret_share(self) -> str:
        """This party's new share; store it, the library keeps nothing."""

# --- client classes ----------------------------------------------------------

@final
class PyEcdsa:
    """One party of threshold ECDSA on secp256k1, talking to the relay at host_url.

    The networked methods return futures; cancelling one (or a time-out of
    asyncio.wait_for) leaves the library's side running: a cancelled keygen
    still completes at the other parties, whose shares then have no
    counterpart, and a retry in the same room fails after about 16 s.
    """

    def __new__(cls, host_url: str) -> PyEcdsa: ...
    def init_keygen(self) -> PyInitKeygenResult:
        """A fresh keygen identity (local, no network)."""
    def create_room(self, n: int, api_key: str) -> asyncio.Future[str]:
        """A new room for n parties on the relay; the room id."""
    def keygen(
        self, room_uuid: str, n: int, t: int, keygen_secret: Sequence[int], keygen_ids: Sequence[str]
    ) -> asyncio.Future[PyEcdsaKeygenResult]:
        """Generate a t-of-n key with the parties of keygen_ids in the room.

        A keygen can end split: when the last message is lost, some parties
        report success and others fail, and the successful ones get no signal
        of it. Treat the key as usable only once every party has confirmed
        its success.

        Cancelling the future, or asyncio.wait_for timing out on it, leaves
        the library's side running: a cancelled keygen still completes at the
        other parties, whose shares then have no counterpart, and a retry in
        the same room fails after about 16 s.
        """
    def sign(
        self, room_uuid: str, secret_share: str, msg_hash: PyMessageHash, derivation_path: Sequence[int]
    ) -> asyncio.Future[PyEcdsaSignature]:
        """Sign msg_hash with the key derived along derivation_path (empty: the key itself)."""
    def derive_pubkey(self, secret_share: str, derivation_path: Sequence[int]) -> Tuple[list[int], list[int]]:
        """The derived public key: (65 bytes uncompressed, 33 bytes compressed)."""
    def refresh(self, room_uuid: str, secret_share: str) -> asyncio.Future[PyEcdsaKeygenResult]:
        """New shares of the same key; every party of the key takes part.

        A refresh can end split: when the last message is lost, some parties
        report success and others fail, and the successful ones get no signal
        of it. After a split refresh the failed party's old share no longer
        signs with the others' new shares, so keep the old share until every
        party confirms.

        Cancelling the future, or asyncio.wait_for timing out on it, leaves
        the library's side running: the refresh still completes at the other
        parties.
        """
    def export_id(self, secret_share: str) -> str:
        """The share's export id (local)."""
    def export_full_private_key(
        self, room_uuid: str, secret_share: str, export_to: str
    ) -> asyncio.Future[Optional[str]]:
        """Hand the full private key to the party whose export id is export_to.

        The receiving party gets the key text; every other party gets None.
        """
    def derive_private_key_from_xpriv(self, xpriv: str, derivation_path: Sequence[int]) -> list[int]:
        """The 32-byte private key derived from xpriv along derivation_path (local)."""
    def import_private_key_importer(
        self,
        room_uuid: str,
        threshold: int,
        private_key: Sequence[int],
        keygen_secret: Sequence[int],
        keygen_ids: Sequence[str],
    ) -> asyncio.Future[PyEcdsaKeygenResult]:
        """Import a 32-byte private key: the side that holds it."""
    def import_private_key_recipient(
        self, room_uuid: str, threshold: int, keygen_secret: Sequence[int], keygen_ids: Sequence[str]
    ) -> asyncio.Future[PyEcdsaKeygenResult]:
        """Import a private key: a receiving side (gets a share)."""
    def reshare_new_party(
        self, room_uuid: str, new_threshold: int, keygen_secret: Sequence[int], keygen_ids: Sequence[str]
    ) -> asyncio.Future[PyEcdsaKeygenResult]:
        """Join a reshare as a new party (no share yet)."""
    def reshare_remaining_party(
        self, room_uuid: str, new_threshold: int, secret_share: str, keygen_ids: Sequence[str]
    ) -> asyncio.Future[PyEcdsaKeygenResult]:
        """Take part in a reshare with a current share."""

@final
class PyEd25519:
    """One party of threshold Ed25519 (FROST), talking to the relay at host_url.

    The networked methods return futures; cancelling one (or a time-out of
    asyncio.wait_for) leaves the library's side running: a cancelled keygen
    still completes at the other parties, whose shares then have no
    counterpart, and a retry in the same room fails after about 16 s.
    """

    def __new__(cls, host_url: str) -> PyEd25519: ...
    def init_keygen(self) -> PyInitKeygenResult:
        """A fresh keygen identity (local, no network)."""
    def create_room(self, n: int, api_key: str) -> asyncio.Future[str]:
        """A new room for n parties on the relay; the room id."""
    def keygen(
        self, room_uuid: str, n: int, t: int, keygen_secret: Sequence[int], keygen_ids: Sequence[str]
    ) -> asyncio.Future[PyEd25519KeygenResult]:
        """Generate a t-of-n key with the parties of keygen_ids in the room.

        A keygen can end split: when the last message is lost, some parties
        report success and others fail, and the successful ones get no signal
        of it. Treat the key as usable only once every party has confirmed
        its success.

        Cancelling the future, or asyncio.wait_for timing out on it, leaves
        the library's side running: a cancelled keygen still completes at the
        other parties, whose shares then have no counterpart, and a retry in
        the same room fails after about 16 s.
        """
    def sign(
        self, room_uuid: str, secret_share: str, message: Sequence[int], derivation_path: Sequence[int]
    ) -> asyncio.Future[list[int]]:
        """Sign message (the bytes themselves, any length); the 64-byte signature."""
    def derive_pubkey(self, secret_share: str, derivation_path: Sequence[int]) -> list[int]:
        """The derived 32-byte public key (local)."""
    def refresh(self, room_uuid: str, secret_share: str) -> asyncio.Future[PyEd25519KeygenResult]:
        """New shares of the same key; every party of the key takes part.

        A refresh can end split: when the last message is lost, some parties
        report success and others fail, and the successful ones get no signal
        of it. After a split refresh the failed party's old share no longer
        signs with the others' new shares, so keep the old share until every
        party confirms.

        Cancelling the future, or asyncio.wait_for timing out on it, leaves
        the library's side running: the refresh still completes at the other
        parties.
        """
    def export_id(self, secret_share: str) -> str:
        """The share's export id (local)."""
    def export_full_private_key(
        self, room_uuid: str, secret_share: str, export_to: str
    ) -> asyncio.Future[Optional[str]]:
        """Hand the full private key to the party whose export id is export_to.

        The receiving party gets the key text; every other party gets None.
        """
    def import_private_key_importer(
        self,
        room_uuid: str,
        threshold: int,
        private_key: Sequence[int],
        is_raw: bool,
        keygen_secret: Sequence[int],
        keygen_ids: Sequence[str],
    ) -> asyncio.Future[PyEd25519KeygenResult]:
        """Import a 32-byte private key: the side that holds it.

        is_raw True: the bytes are the secret scalar; False: an Ed25519 seed.
        """
    def import_private_key_recipient(
        self, room_uuid: str, threshold: int, keygen_secret: Sequence[int], keygen_ids: Sequence[str]
    ) -> asyncio.Future[PyEd25519KeygenResult]:
        """Import a private key: a receiving side (gets a share)."""
    def reshare_new_party(
        self, room_uuid: str, new_threshold: int, keygen_secret: Sequence[int], keygen_ids: Sequence[str]
    ) -> asyncio.Future[PyEd25519KeygenResult]:
        """Join a reshare as a new party (no share yet)."""
    def reshare_remaining_party(
        self, room_uuid: str, new_threshold: int, secret_share: str, keygen_ids: Sequence[str]
    ) -> asyncio.Future[PyEd25519KeygenResult]:
        """Take part in a reshare with a current share."""

@final
class PyExportableEd25519:
    """One receiving party of exportable Ed25519, talking to the relay at host_url.

    Another party samples the key; this class receives its share
    (receive_key). Failures are raised as RuntimeError, never MPCError.

    The networked methods return futures; cancelling one (or a time-out of
    asyncio.wait_for) leaves the library's side running: a cancelled
    receive_key still completes at the other parties, whose shares then have
    no counterpart, and a retry in the same room fails after about 16 s.
    """

    def __new__(cls, host_url: str) -> PyExportableEd25519: ...
    def init_keygen(self) -> PyInitKeygenResult:
        """A fresh keygen identity (local, no network)."""
    def create_room(self, n: int, api_key: str) -> asyncio.Future[str]:
        """A new room for n parties on the relay; the room id."""
    def receive_key(
        self, room_uuid: str, n: int, t: int, keygen_secret: Sequence[int], keygen_ids: Sequence[str]
    ) -> asyncio.Future[PyEd25519KeygenResult]:
        """This class's keygen: receive a share of a t-of-n key that another party samples.

        A keygen can end split: when the last message is lost, some parties
        report success and others fail, and the successful ones get no signal
        of it. Treat the key as usable only once every party has confirmed
        its success.

        Cancelling the future, or asyncio.wait_for timing out on it, leaves
        the library's side running: a cancelled keygen still completes at the
        other parties, whose shares then have no counterpart, and a retry in
        the same room fails after about 16 s.
        """
    def sign(
        self, room_uuid: str, secret_share: str, message: Sequence[int], _derivation_path: Sequence[int]
    ) -> asyncio.Future[list[int]]:
        """Sign message (the bytes themselves); the 64-byte signature.

        _derivation_path must convert but is ignored (no derivation).
        """
    def derive_pubkey(self, secret_share: str, _derivation_path: Sequence[int]) -> list[int]:
        """The share's 32-byte group public key; _derivation_path is ignored."""
    def export_id(self, secret_share: str) -> str:
        """The share's export id (local)."""
    def refresh(self, room_uuid: str, secret_share: str) -> asyncio.Future[PyEd25519KeygenResult]:
        """New shares of the same key; every party of the key takes part.

        A refresh can end split: when the last message is lost, some parties
        report success and others fail, and the successful ones get no signal
        of it. After a split refresh the failed party's old share no longer
        signs with the others' new shares, so keep the old share until every
        party confirms.

        Cancelling the future, or asyncio.wait_for timing out on it, leaves
        the library's side running: the refresh still completes at the other
        parties.
        """
    def export_full_private_key(
        self, room_uuid: str, secret_share: str, export_to: str
    ) -> asyncio.Future[Optional[str]]:
        """Hand the full private key to the party whose export id is export_to.

        The receiving party gets 128 hex digits (the 32-byte seed, then the
        public key); every other party gets None.
        """
    def import_private_key_recipient(
        self, room_uuid: str, threshold: int, keygen_secret: Sequence[int], keygen_ids: Sequence[str]
    ) -> asyncio.Future[PyEd25519KeygenResult]:
        """Import a private key: a receiving side (gets a share)."""
    def import_private_key_importer(
        self,
        room_uuid: str,
        threshold: int,
        private_key: Sequence[int],
        _is_raw: bool,
        keygen_secret: Sequence[int],
        keygen_ids: Sequence[str],
    ) -> asyncio.Future[PyEd25519KeygenResult]:
        """Import a 32-byte Ed25519 seed: the side that holds it; _is_raw must be a bool and is ignored."""
