"""The updater's 1 ms pauses (one after each unacknowledged poll) under Wine.

Why they need a timer of their own shows on real Windows only: there a plain Sleep(1) lasts until
the next tick of the system timer, 15.6 ms by default. Wine's Sleep(1) lasts about 1 ms. So here
the tests check the calls the pauses are made of, and that a frame that is never acknowledged is
paced like Wine's own 1 ms sleep within bounds that only a fault crosses; how close it comes is
the benchmark's to tell (bench/wine_pacing.py).
"""

import re
import sys
import unittest

from test_wine_dialogue import READ_AS_05, UPDATE_STEPS
from wine_harness import CLOSING_PROMPT, CONFIRMATION, UpdaterTestCase, crlf
from wine_pacing import POLLS_PER_FRAME, UNACKNOWLEDGED_FRAMES, Pacing, read_trace, start_update

TIMER_CALLS = ("CreateWaitableTimerExW", "SetWaitableTimer", "WaitForSingleObject",
               "MsgWaitForMultipleObjectsEx", "timeBeginPeriod", "timeEndPeriod", "Sleep")
CREATE_WAITABLE_TIMER_HIGH_RESOLUTION = 0x2
# "0118:Call KERNEL32.SetWaitableTimer(00000094,...) ret=..." and
# "0118:Ret  KERNEL32.CreateWaitableTimerExW() retval=00000094 ret=...".
RELAY_LINE = re.compile(r"^([0-9a-f]+):(Call|Ret) +\w+\.(\w+)\(([^)]*)\)(?: retval=([0-9a-f]+))?",
                        re.MULTILINE)
# Wine's pauses come near its Sleep(1) (the benchmark tells how near), and a busy machine may
# stretch them by half. A pause cut short comes near 0 and one stretched to a system tick near 15;
# one made twice shows in the calls (the timer test above).
SLOWEST_RATIO = 4.0
FASTEST_RATIO = 0.5


class WinePauseTest(UpdaterTestCase):
    def test_short_pauses_wait_on_one_high_resolution_timer(self):
        self.prefix.limit_relay_trace(TIMER_CALLS)
        # Every frame is acknowledged at its second poll at the earliest: each one pauses.
        run, trace_path = start_update(self.prefix, "timer-calls", debug="+relay",
                                       ACK_AFTER_POLLS=2)
        run.type_key("k", after=CLOSING_PROMPT)
        output, code = run.wait()
        self.assertEqual((output, code), (crlf(READ_AS_05 + CONFIRMATION +
                                               "You pressed the 'Y' key.\nContinuing...\n\n" +
                                               UPDATE_STEPS + "Update result:Success\n" +
                                               CLOSING_PROMPT), 0))
        unacknowledged = sum(1 for r in read_trace(trace_path) if r["fn"] == "NvAPI_I2CReadEx"
                             and r["regSize"] == 0 and r["data"] == "00000000")
        self.assertGreaterEqual(unacknowledged, 90)

        relay = RELAY_LINE.findall(run.errors())
        if not relay:
            self.skipTest("this Wine build does not trace calls")
        creations = [(thread, args) for thread, kind, function, args, _ in relay
                     if kind == "Call" and function == "CreateWaitableTimerExW"]
        self.assertEqual(len(creations), 1, creations)
        thread, args = creations[0]
        self.assertEqual(int(args.split(",")[2], 16), CREATE_WAITABLE_TIMER_HIGH_RESOLUTION)
        timer = next(int(value, 16) for t, kind, function, _, value in relay
                     if t == thread and kind == "Ret" and function == "CreateWaitableTimerExW")
        self.assertNotEqual(timer, 0)

        calls = [(function, [int(a, 16) for a in args.split(",") if a])
                 for t, kind, function, args, _ in relay if t == thread and kind == "Call"]
        on_timer = [function for function, args in calls if args[:1] == [timer]]
        self.assertEqual(on_timer.count("SetWaitableTimer"), unacknowledged)
        # From the 'Y' on, a wait on one object (the timer) serves the thread's window as well.
        serving = [args for f, args in calls if f == "MsgWaitForMultipleObjectsEx" and args[0] == 1]
        self.assertEqual(on_timer.count("WaitForSingleObject") + len(serving), unacknowledged)
        self.assertEqual([f for f, _ in calls if f in ("timeBeginPeriod", "timeEndPeriod")], [])
        self.assertEqual([args for f, args in calls if f == "Sleep" and args <= [15] or
                          f == "MsgWaitForMultipleObjectsEx" and args[0] == 0 and args[2] <= 15],
                         [])

    def test_unacknowledged_frame_is_paced_like_wines_own_1_ms_sleep(self):
        paced = Pacing(self.prefix, "paced")
        self.assertEqual((paced.output, paced.code), (crlf(
            READ_AS_05 + CONFIRMATION + "You pressed the 'Y' key.\nContinuing...\n\n"
            "Initial FW update process.\nInitial FW update process - Second time.\n"
            "IAP_INTERFACE_ERROR"), 255))
        self.assertEqual(len(paced.pauses), len(UNACKNOWLEDGED_FRAMES) * (POLLS_PER_FRAME - 1))
        print(f"\n1 ms pause {paced.mean:.1f} us, Wine's Sleep(1) {paced.plain_sleep:.1f} us, "
              f"ratio {paced.ratio:.3f}", file=sys.stderr)
        self.assertGreater(paced.ratio, FASTEST_RATIO)
        self.assertLess(paced.ratio, SLOWEST_RATIO)


if __name__ == "__main__":
    unittest.main(verbosity=2)
