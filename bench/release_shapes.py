"""How long the release check takes to judge programs signed in other tools' shapes: each program
the corpus test has cached (~/.cache/argb-signed-corpus), and the costliest certificate table for
the count of signatures, which comes before every bound: 8-byte entries as far as the count reads.
Judged with the system's bundle and the repository's pins, so that nothing is fetched: each ends at
its first fault, printed with the median time of its rounds.

Run by hand, once the corpus test has filled the cache:
    /usr/bin/python3 bench/release_shapes.py [rounds]
"""

import argparse
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "package"))
from release_inputs import contents  # noqa: E402
from release_signature import (CERTIFICATE_ENTRY, SIGNATURE_CAP, SYSTEM_CA_FILE,  # noqa: E402
                               Differs, judge_signature, security_directory)

CACHE = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"),
                     "argb-signed-corpus")
TRUST = argparse.Namespace(cafile=None, timestamp_cafile=SYSTEM_CA_FILE, crlfile=None)


def unsigned(program):
    """The program as the rebuild gives it, without its signature; itself where osslsigncode cannot
    remove it."""
    with tempfile.TemporaryDirectory() as work:
        signed, removed = os.path.join(work, "signed"), os.path.join(work, "unsigned")
        with open(signed, "wb") as file:
            file.write(program)
        subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", removed],
                       capture_output=True)
        return contents(removed if os.path.exists(removed) else signed)


def tiny_entries(program):
    """The unsigned program with a certificate table of 8-byte signature entries, one past the
    count's reach."""
    table = CERTIFICATE_ENTRY.pack(8, 0x200, 2) * (SIGNATURE_CAP // 8 + 1)
    data = bytearray(program + table)
    struct.pack_into("<II", data, security_directory(program), len(program), len(table))
    return bytes(data)


def timed(program, rebuilt, rounds):
    times = []
    for _ in range(rounds):
        with tempfile.TemporaryDirectory() as work:
            start = time.perf_counter()
            try:
                line = judge_signature(program, rebuilt, "it", work, TRUST)
            except Differs as refusal:
                line = str(refusal)
            times.append(time.perf_counter() - start)
    return statistics.median(times), line


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    names = sorted(os.listdir(CACHE)) if os.path.isdir(CACHE) else []
    if not names:
        print(f"{CACHE} holds no program: run the corpus test (release_signature_corpus) first")
        return 1
    cases = [(name, program, unsigned(program))
             for name, program in ((name, contents(os.path.join(CACHE, name))) for name in names)]
    cases.append((f"8-byte entries on {cases[0][0]}", tiny_entries(cases[0][2]), cases[0][2]))
    for name, program, rebuilt in cases:
        seconds, line = timed(program, rebuilt, rounds)
        print(f"{seconds * 1000:8.1f} ms  {name[:60]}: {line[:120]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
