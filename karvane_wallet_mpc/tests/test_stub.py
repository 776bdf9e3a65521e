"""The typed interface karvane_wallet_mpc.pyi against the built module.

mypy's stubtest compares the stub with the module as imported (names, classes,
methods, parameter names and kinds, properties, __all__, @final); docstrings
are not compared, so the module's own docs stay as they are. A second check
runs mypy over a small program to pin the types a caller relies on: futures
of the result classes, Optional for an export, lists of ints for byte lists.
"""
import os
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

STUB = Path(__file__).resolve().parent.parent / "karvane_wallet_mpc.pyi"


def run_mypy_tool(args, folder):
    """Runs `python -m <args>` with only the stub's copy in `folder` on MYPYPATH."""
    shutil.copy(STUB, folder / "karvane_wallet_mpc.pyi")
    env = dict(os.environ, MYPYPATH=str(folder))
    return subprocess.run([sys.executable, "-m", *args], cwd=folder, env=env, capture_output=True, text=True,
                          timeout=600)


def test_stub_matches_the_module(tmp_path):
    r = run_mypy_tool(["mypy.stubtest", "karvane_wallet_mpc"], tmp_path)
    assert r.returncode == 0, r.stdout + r.stderr


USER_PROGRAM = """
    import asyncio
    from typing import List, Optional, Tuple

    import karvane_wallet_mpc as kwm

    async def main(host: str) -> None:
        ecdsa = kwm.PyEcdsa(host)
        ident: kwm.PyInitKeygenResult = ecdsa.init_keygen()
        fut: asyncio.Future[kwm.PyEcdsaKeygenResult] = ecdsa.keygen("r", 3, 2, ident.keygen_secret, ["a"])
        key = await fut
        share: str = key.secret_share
        sig = await ecdsa.sign("r", share, kwm.PyMessageHash.sha256(b"m"), [])
        der: List[int] = sig.der
        v: int = sig.v
        pair: Tuple[List[int], List[int]] = ecdsa.derive_pubkey(share, [1])
        exported: Optional[str] = await ecdsa.export_full_private_key("r", share, "id")

        ed = kwm.PyEd25519(host)
        signature: List[int] = await ed.sign("r", share, b"message", [])
        pubkey: List[int] = (await ed.refresh("r", share)).pubkey
        await ed.import_private_key_importer("r", 2, bytes(32), False, bytes(32), [])

        xp = kwm.PyExportableEd25519(host)
        received = await asyncio.wait_for(xp.receive_key("r", 3, 2, bytes(32), []), 60)
        xpub: List[int] = received.pubkey
        room: str = await xp.create_room(3, "")
"""

# Each line is wrong for the stub to catch: an export may be None, PyEcdsa
# signs a PyMessageHash, is_raw is a bool, keygen gives a future.
MISTAKES = [
    "async def f(c: kwm.PyEcdsa) -> str: return await c.export_full_private_key('r', 's', 'id')",
    "def f(c: kwm.PyEcdsa) -> None: c.sign('r', 's', b'hash', [])",
    "def f(c: kwm.PyEd25519) -> None: c.import_private_key_importer('r', 2, bytes(32), 1.5, bytes(32), [])",
    "def f(c: kwm.PyEcdsa) -> kwm.PyEcdsaKeygenResult: return c.keygen('r', 3, 2, [], [])",
]


def test_stub_types_what_a_caller_relies_on(tmp_path):
    program = tmp_path / "program.py"
    program.write_text(textwrap.dedent(USER_PROGRAM))
    r = run_mypy_tool(["mypy", "--strict", "--no-incremental", str(program)], tmp_path)
    assert r.returncode == 0, r.stdout + r.stderr

    for i, line in enumerate(MISTAKES):
        wrong = tmp_path / f"wrong_{i}.py"
        wrong.write_text("import karvane_wallet_mpc as kwm\n" + line + "\n")
        r = run_mypy_tool(["mypy", "--strict", "--no-incremental", str(wrong)], tmp_path)
        assert r.returncode == 1 and f"wrong_{i}.py:2: error" in r.stdout, (line, r.stdout + r.stderr)
