"""The main job: three parties make a 2-of-3 ECDSA key on a relay, two of them
sign a message hash under a derived child key, and an independent library
checks the signature.

    python main_job.py HOST:PORT

Exits with 0 only when every step succeeded.
"""
import asyncio
import sys

import coincurve

import karvane_wallet_mpc as kwm


async def main(host):
    client = kwm.PyEcdsa(host)
    identities = [client.init_keygen() for _ in range(3)]
    ids = [i.keygen_id for i in identities]
    print(f"relay {host}; parties: " + ", ".join(i[:12] + "..." for i in ids))

    room = await client.create_room(3, "")
    keys = await asyncio.gather(*(client.keygen(room, 3, 2, i.keygen_secret, ids) for i in identities))
    root = bytes(keys[0].pubkey_compressed)
    if any(bytes(k.pubkey_compressed) != root for k in keys):
        raise SystemExit("the parties disagree on the public key")
    print(f"2-of-3 key generated in room {room}: public key {root.hex()}")

    path = [44, 60, 0, 0, 7]
    child_full, child_compressed = client.derive_pubkey(keys[0].secret_share, path)
    print(f"child key along {path}: {bytes(child_compressed).hex()}")

    msg_hash = kwm.PyMessageHash.sha256(b"transfer 1.5 units to the cold wallet")
    signers = [keys[0].secret_share, keys[2].secret_share]
    room = await client.create_room(len(signers), "")
    sigs = await asyncio.gather(*(client.sign(room, share, msg_hash, path) for share in signers))
    sig = sigs[0]
    print(f"parties 1 and 3 signed {msg_hash.to_hex()}: r={bytes(sig.r).hex()[:16]}... v={sig.v}")

    verifier = coincurve.PublicKey(bytes(child_full))
    ok = verifier.verify(bytes(sig.der), msg_hash.as_bytes(), hasher=None)
    recovered = coincurve.PublicKey.from_signature_and_message(
        bytes(sig.r) + bytes(sig.s) + bytes([sig.v - 27]), msg_hash.as_bytes(), hasher=None)
    if not ok or recovered.format() != bytes(child_compressed):
        raise SystemExit("the signature does not verify")
    print("signature verified by coincurve against the child key (and the key recovered from it matches)")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    asyncio.run(main(sys.argv[1]))
    print("main job: success")
