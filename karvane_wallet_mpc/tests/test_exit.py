"""Processes that exit right after awaiting an operation exit cleanly.

An operation's outcome is handed to the event loop by a library thread. The
interpreter may start finalizing the moment the awaited result arrives, while
that thread is still leaving its interpreter section; that must never abort
the process. The race is short, so many short processes are run.
"""
import concurrent.futures
import os
import subprocess
import sys

SCRIPT = r"""
import asyncio, sys
import karvane_wallet_mpc as kwm

async def main(host, ending):
    c = kwm.PyEcdsa(host)
    rooms = await asyncio.gather(*(c.create_room(2, "") for _ in range(4)))
    a, b = c.init_keygen(), c.init_keygen()
    ids = [a.keygen_id, b.keygen_id]
    await asyncio.gather(c.keygen(rooms[0], 2, 2, a.keygen_secret, ids),
                         c.keygen(rooms[0], 2, 2, b.keygen_secret, ids))
    if ending == "failure":
        try:
            await c.create_room(0, "")
        except ValueError:
            pass
        else:
            raise SystemExit("a room for no parties was made")
    else:
        await c.create_room(2, "")

asyncio.run(main(sys.argv[1], sys.argv[2]))
"""

RUNS = 48


def run_one(host, ending):
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    return subprocess.run([sys.executable, "-c", SCRIPT, host, ending], capture_output=True, text=True,
                          timeout=300, env=env)


def test_many_short_processes_exit_cleanly(relay_host):
    endings = ["success", "failure"] * (RUNS // 2)
    with concurrent.futures.ThreadPoolExecutor(max_workers=6) as pool:
        results = list(pool.map(lambda e: run_one(relay_host, e), endings))
    failed = [(e, r.returncode, r.stderr[-2000:]) for e, r in zip(endings, results) if r.returncode != 0]
    assert not failed, failed
    assert not [r.stderr for r in results if "Fatal Python error" in r.stderr]
