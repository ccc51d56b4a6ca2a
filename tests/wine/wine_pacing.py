"""The 1 ms pauses of frames that are never acknowledged, measured under Wine beside Wine's own
Sleep(1). The pause tests bound them; bench/wine_pacing.py prints them.

Both measures are taken in the same prefix, the probe just before and just after the update, so
that a change in the machine's load meets both alike.
"""

import json
import os
import statistics

from wine_harness import CONFIRMATION, SLEEP_PROBE, UPDATER_NAME, WinePrefix, WineRun, emulator_settings

UPDATER = WinePrefix.windows_path("updater", UPDATER_NAME)
POLL_ID = "0x4d7b0709"  # NvAPI_I2CReadEx, whose calls the updater wraps in the driver's hooks
POLLS_PER_FRAME = 3002
# Both starts at the application's address time out; nothing answers at the loader's.
UNACKNOWLEDGED_FRAMES = (1, 2)


def read_trace(path):
    with open(path) as lines:
        return [json.loads(line) for line in lines]


def pauses_between_polls(trace, frames):
    """Microseconds from the end of each poll of these frames to the start of the next one."""
    pauses = []
    frame = last_end = None
    for record in trace:
        if record["fn"] == "NvAPI_I2CWriteEx" and "frame" in record:
            frame, last_end = record["frame"], None
        elif frame in frames and record.get("id") == POLL_ID:
            if record["fn"] == "CallBeginHook" and last_end is not None:
                pauses.append(record["t_us"] - last_end)
            elif record["fn"] == "CallEndHook":
                last_end = record["t_us"]
    return pauses


def start_update(prefix, name, debug="-all", **settings):
    """A run on a fresh controller, answered 'Y', with the emulator's trace; returns the run and
    the trace file."""
    trace_path = os.path.join(prefix.work_dir, name + ".jsonl")
    if os.path.exists(trace_path):
        os.remove(trace_path)
    env = {"WINEDEBUG": debug, "ARGB_EMU_TRACE": WinePrefix.windows_path("work", name + ".jsonl")}
    env.update(emulator_settings(**settings))
    run = WineRun(prefix, UPDATER, env=env, name=name)
    run.type_key("Y", after=CONFIRMATION)
    return run, trace_path


def plain_sleep_us(prefix):
    """The mean of Wine's own Sleep(1), timed as often as a frame is polled."""
    output, code = WineRun(prefix, SLEEP_PROBE, name="sleep-probe").wait()
    if code != 0:
        raise RuntimeError(f"the sleep probe failed ({code}): {output!r}")
    return float(output)


class Pacing:
    """One update whose frames are never acknowledged, between two timings of Sleep(1)."""

    def __init__(self, prefix, name):
        before = plain_sleep_us(prefix)
        run, trace_path = start_update(prefix, name,
                                       NO_ACK_FRAMES=",".join(map(str, UNACKNOWLEDGED_FRAMES)))
        self.output, self.code = run.wait()
        self.plain_sleep = statistics.fmean((before, plain_sleep_us(prefix)))
        # From poll to poll, less the emulator's time in each poll (it writes the trace).
        self.pauses = pauses_between_polls(read_trace(trace_path), UNACKNOWLEDGED_FRAMES)

    @property
    def mean(self):
        return statistics.fmean(self.pauses)

    @property
    def p99(self):
        return statistics.quantiles(self.pauses, n=100)[98]

    @property
    def ratio(self):
        return self.mean / self.plain_sleep
