"""Generates the committed sr25519 test data of velto-frost-sr25519.

1. rfc9591_ristretto255.txt: the FROST(ristretto255, SHA-512) vectors of
   RFC 9591 (frost-ristretto255-sha512-rfc9591.json beside this script,
   copied from the RFC's published vectors) flattened to "key value" lines.
2. sr25519_oracle.txt: cases from an independent sr25519 implementation
   (PyPI py-sr25519-bindings, pinned in requirements.txt):
     seed   <seed> <secret scalar> <public key>
     cc     <junction hex> <chain code>          (junction rules written
                                                  out here a second time)
     derive <seed> <junctions hex, comma-joined or -> <child public> <child secret>
     sig    <public key> <message> <signature> <1 accepted | 0 refused>

Run once; the output is committed:
    python velto-frost-sr25519/testdata/sr25519_gen.py
"""
import hashlib
import json
import os

import sr25519

HERE = os.path.dirname(os.path.abspath(__file__))


def flatten(prefix, value, out):
    if isinstance(value, dict):
        for k, v in value.items():
            flatten(f"{prefix}.{k}" if prefix else k, v, out)
    elif isinstance(value, list):
        for i, v in enumerate(value):
            key = v.get("identifier", i) if isinstance(v, dict) else i
            flatten(f"{prefix}.{key}", v, out)
    else:
        out.append((prefix, str(value)))


def compact(n):
    if n < 64:
        return bytes([n << 2])
    if n < 16384:
        return ((n << 2) | 1).to_bytes(2, "little")
    if n < 1073741824:
        return ((n << 2) | 2).to_bytes(4, "little")
    return bytes([3]) + n.to_bytes(4, "little")


def chain_code(text: bytes) -> bytes:
    s = text.decode()
    digits = s[1:] if s.startswith("+") else s
    if digits and all("0" <= ch <= "9" for ch in digits) and int(digits) < 2**64:
        return int(digits).to_bytes(8, "little") + bytes(24)
    enc = compact(len(text)) + text
    if len(enc) <= 32:
        return enc + bytes(32 - len(enc))
    return hashlib.blake2b(enc, digest_size=32).digest()


JUNCTIONS = [
    b"", b"0", b"00", b"+0", b"a0", b"1", b"42", b"+7", b"-1", b"+", b"-",
    b"18446744073709551615", b"18446744073709551616", b"hello", b"a/b",
    b"x" * 31, b"y" * 32, b"z" * 63, b"w" * 64, b"Alice", "ключ".encode(),
]

PATHS = [
    [b"0"], [b""], [b"Alice"], [b"1", b"2", b"3"], [b"hello", b"18446744073709551616"],
    [b"y" * 32, b"w" * 64], [b"a/b", b"+7"],
]


def main():
    with open(os.path.join(HERE, "frost-ristretto255-sha512-rfc9591.json")) as f:
        vectors = json.load(f)
    flat = []
    flatten("", vectors, flat)
    with open(os.path.join(HERE, "rfc9591_ristretto255.txt"), "w") as f:
        f.write("# RFC 9591 FROST(ristretto255, SHA-512) vectors, flattened by sr25519_gen.py\n")
        for k, v in flat:
            f.write(f"{k} {v}\n")

    lines = ["# sr25519 oracle cases, made by sr25519_gen.py"]
    for i in range(6):
        seed = hashlib.sha256(b"sr25519 seed %d" % i).digest()
        if i == 5:
            seed = bytes(32)
        pub, priv = sr25519.pair_from_seed(seed)
        lines.append(f"seed {seed.hex()} {priv[:32].hex()} {pub.hex()}")
    for j in JUNCTIONS:
        lines.append(f"cc {j.hex() or '-'} {chain_code(j).hex()}")
    for n, path in enumerate(PATHS):
        seed = hashlib.sha256(b"sr25519 derive %d" % n).digest()
        pair = sr25519.pair_from_seed(seed)
        pub = pair[0]
        for j in path:
            cc = chain_code(j)
            # The bindings take the junction's chain code in the extended key
            # and sign no extra bytes; the child chain code they return is
            # not used (a junction's chain code comes from its own text).
            _, child_pub, child_priv = sr25519.derive_keypair((cc, pair[0], pair[1]), b"")
            pair = (child_pub, child_priv)
            pub = sr25519.derive_pubkey((cc, pub), b"")[1]
            assert pub == pair[0]
        joined = ",".join(j.hex() or "-" for j in path)
        lines.append(f"derive {seed.hex()} {joined} {pair[0].hex()} {pair[1][:32].hex()}")
    for n, length in enumerate([0, 1, 32, 200, 1024]):
        seed = hashlib.sha256(b"sr25519 sign %d" % n).digest()
        pub, priv = sr25519.pair_from_seed(seed)
        msg = bytes((k * 13 + n) & 0xFF for k in range(length))
        sig = sr25519.sign((pub, priv), msg)
        assert sr25519.verify(sig, msg, pub)
        lines.append(f"sig {pub.hex()} {msg.hex() or '-'} {sig.hex()} 1")
        # One flipped bit in R, in s, and in the message.
        for which in ("r", "s", "m"):
            s2, m2 = bytearray(sig), bytearray(msg)
            if which == "r":
                s2[3] ^= 0x10
            elif which == "s":
                s2[40] ^= 0x01
            elif m2:
                m2[-1] ^= 0x80
            else:
                m2 = bytearray(b"\x00")
            assert not sr25519.verify(bytes(s2), bytes(m2), pub)
            lines.append(f"sig {pub.hex()} {bytes(m2).hex() or '-'} {bytes(s2).hex()} 0")
    with open(os.path.join(HERE, "sr25519_oracle.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


main()
