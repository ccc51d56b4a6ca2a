"""How closely the updater's 1 ms pauses follow Wine's own Sleep(1): updates whose two first frames
are never acknowledged, each between two timings of Sleep(1), in a Wine prefix of their own.

Run by hand through its target, which passes the build's programs:
    cmake --build --preset windows --target wine_pacing_bench
and with more rounds: ARGB_BENCH_ROUNDS=5 cmake --build --preset windows --target wine_pacing_bench
"""

import os
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "wine"))
from wine_harness import EMULATED_DRIVER, shared_prefix  # noqa: E402
from wine_pacing import Pacing  # noqa: E402


def report(label, pauses, plain_sleep):
    mean = statistics.fmean(pauses)
    p99 = statistics.quantiles(pauses, n=100)[98]
    print(f"{label}: {len(pauses)} pauses, mean {mean:.1f} us, p99 {p99:.1f} us; "
          f"Wine's Sleep(1) {plain_sleep:.1f} us; ratio {mean / plain_sleep:.3f}")


def main():
    rounds = int(os.environ.get("ARGB_BENCH_ROUNDS", "3"))
    prefix = shared_prefix()
    prefix.set_windows_version("win10")
    prefix.install_driver(EMULATED_DRIVER)
    runs = []
    for number in range(1, rounds + 1):
        run = Pacing(prefix, f"bench-{number}")
        if not run.pauses:
            sys.exit(f"round {number} made no pauses; its output: {run.output!r}")
        report(f"round {number}", run.pauses, run.plain_sleep)
        runs.append(run)
    report("all rounds", [pause for run in runs for pause in run.pauses],
           statistics.fmean(run.plain_sleep for run in runs))


if __name__ == "__main__":
    main()
