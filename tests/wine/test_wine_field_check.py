"""The field check run in the suite's prefix, its report compared with what Wine is known to give.

Wine runs the same platform code as Windows, so a change that breaks a check shows here first where
Wine can see it: the timer, the lock, the DLL search, the console's keys. What Wine lacks (the
KnownDLLs list, the mitigation policies, a console window, the session-end block's query) it
reports the same way each time.
"""

import json
import os
import shutil
import unittest

from wine_harness import WinePrefix, WineRun, shared_prefix

FIELD_CHECK = os.environ.get("ARGB_WIN_FIELD_CHECK", "")
MARKER = os.environ.get("ARGB_WIN_FIELD_CHECK_MARKER", "")
FOLDER = "field-check"
# Every check in the order it runs, with its verdict under Wine (as Windows 10).
WINE_VERDICTS = [
    ("Windows version", "PASS"),
    ("elevation", "PASS"),
    ("mitigations", "FAIL"),  # Wine's GetProcessMitigationPolicy reports nothing applied
    ("KnownDLLs", "FAIL"),  # Wine's registry has no KnownDLLs key
    ("DLL search", "PASS"),
    ("run lock", "PASS"),
    ("1 ms pause", "PASS"),
    ("console code page", "PASS"),
    ("arrow key", "PASS"),
    ("key typed as a-grave", "PASS"),
    ("write phase: QuickEdit", "PASS"),
    ("write phase: Close item", "N/A"),  # no console window
    ("write phase: session-end block", "N/A"),  # no ShutdownBlockReasonQuery
    ("write phase: execution state", "PASS"),
]
ARROW_UP = "\x1b[A"
A_GRAVE_UTF8 = "\xc3\xa0"  # as the terminal sends it, one character per byte


class FieldCheckTest(unittest.TestCase):
    def setUp(self):
        self.prefix = shared_prefix()
        self.prefix.set_windows_version("win10")
        self.folder = os.path.join(self.prefix.drive_c, FOLDER)
        os.makedirs(self.folder, exist_ok=True)
        for path in (FIELD_CHECK, MARKER):
            shutil.copy(path, self.folder)
        self.json_path = os.path.join(self.folder, "argb-field-check.json")
        if os.path.exists(self.json_path):
            os.remove(self.json_path)

    def test_report_is_what_wine_gives_and_the_json_says_the_same(self):
        run = WineRun(self.prefix, WinePrefix.windows_path(FOLDER, os.path.basename(FIELD_CHECK)),
                      name="field-check")
        run.type_key(ARROW_UP, after="Press an arrow key")
        run.type_key(A_GRAVE_UTF8, after="(a-grave")
        output, code = run.wait(timeout=120)
        with open(self.json_path, encoding="utf-8") as report:
            report = json.load(report)
        self.assertEqual([(c["name"], c["verdict"]) for c in report["checks"]], WINE_VERDICTS,
                         "\n" + output)
        # The printed lines are the JSON's, in the same order.
        printed = [line for line in output.split("\r\n") if line[:5] in ("PASS ", "FAIL ", "N/A  ")]
        self.assertEqual(printed, [f"{c['verdict']:<4} {c['name']}: {c['value']}; {c['why']}"
                                   for c in report["checks"]])
        # Wine makes high-resolution timers, so the fallback would mean the sleeper misjudged it.
        self.assertIn("high-resolution timer", report["checks"][6]["value"])
        # The summary and its exit code follow the verdicts (unit-tested).
        self.assertEqual((report["summary"], code), ("10 passed, 2 failed", 1))


if __name__ == "__main__":
    unittest.main(verbosity=2)
