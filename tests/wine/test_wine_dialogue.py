"""The Windows updater's whole dialogue under Wine, against the emulated driver in system32."""

import os
import unittest

from wine_harness import (BANNER, CLOSING_PROMPT, CONFIRMATION, EMULATED_DRIVER, UPDATER_NAME,
                          WinePrefix, WineRun, crlf, shared_prefix)

UPDATER = WinePrefix.windows_path("updater", UPDATER_NAME)
READ_AS_05 = BANNER + "Detected FW version:40.70.00.05\n"
UPDATE_STEPS = ("Initial FW update process.\nFW Erase\nPrepare CRC\nFlash FW\nCheck CRC\n"
                "Exit updater\n")


class WineDialogueTest(unittest.TestCase):
    def setUp(self):
        self.prefix = shared_prefix()
        self.prefix.set_windows_version("win10")
        self.prefix.install_driver(EMULATED_DRIVER)
        self.new_device(self.id().rsplit(".", 1)[-1])

    def new_device(self, name):
        """An emulated controller fresh from the factory, kept in a state file between runs."""
        self.device = name
        state_file = os.path.join(self.prefix.work_dir, name + ".state")
        if os.path.exists(state_file):
            os.remove(state_file)

    def start(self, **emulator_settings):
        # Paths reach the emulator inside Wine, so they are given in Windows form.
        env = {"ARGB_EMU_STATE": WinePrefix.windows_path("work", self.device + ".state")}
        env.update({"ARGB_EMU_" + k: str(v) for k, v in emulator_settings.items()})
        return WineRun(self.prefix, UPDATER, env=env, name=self.device)

    def answer(self, key, **emulator_settings):
        run = self.start(**emulator_settings)
        run.type_key(key, after=CONFIRMATION)
        return run

    def assertRun(self, run, expected_output, expected_code):
        output, code = run.wait()
        self.assertEqual(output, crlf(expected_output))
        self.assertEqual(code, expected_code)

    def test_update_and_a_second_run_that_reads_the_new_version(self):
        run = self.answer("y")
        run.type_key("k", after=CLOSING_PROMPT)
        self.assertRun(run, READ_AS_05 + CONFIRMATION + "You pressed the 'y' key.\n"
                       "Continuing...\n\n" + UPDATE_STEPS + "Update result:Success\n" +
                       CLOSING_PROMPT, 0)

        run = self.answer("n")
        run.type_key("k", after=CLOSING_PROMPT)
        self.assertRun(run, BANNER + "Detected FW version:40.70.00.09\n" + CONFIRMATION +
                       "You pressed the 'n' key.\nExiting...\n" + CLOSING_PROMPT, 0)

    def test_answers_that_do_not_update(self):
        # Enter counts as an invalid answer and is echoed as the raw CR it reads as.
        for key, verdict, code in (("n", "Exiting...", 0), ("q", "Invalid input. Exiting...", 1),
                                   ("\r", "Invalid input. Exiting...", 1)):
            with self.subTest(key=key):
                run = self.answer(key)
                run.type_key(" ", after=CLOSING_PROMPT)
                self.assertRun(run, READ_AS_05 + CONFIRMATION +
                               f"You pressed the '{key}' key.\n{verdict}\n" + CLOSING_PROMPT, code)

    def test_an_arrow_key_answers_and_closes_with_its_two_codes(self):
        # Windows reads a cursor key as 224 and then its scan code, which the closing prompt takes.
        run = self.answer("\x1b[A")
        self.assertRun(run, READ_AS_05 + CONFIRMATION + "You pressed the '\xe0' key.\n"
                       "Invalid input. Exiting...\n" + CLOSING_PROMPT, 1)

    def test_controller_of_another_version_fails_the_gate(self):
        run = self.start(VERSION="41.70.00.09")
        run.type_key("x", after=CLOSING_PROMPT)
        self.assertRun(run, BANNER + "Detected FW version:41.70.00.09\n"
                       "Abnormal in FW version compare.\n" + CLOSING_PROMPT, 255)

    def test_no_version_reading_ends_without_a_key(self):
        run = self.start(NO_CONTROLLER=1)
        self.assertRun(run, BANNER + "Detected FW version....Cannot get MCU FW version.\n", 255)
        # Five queries of 100 ms and four pauses of 300 ms, plus Wine's start.
        self.assertGreaterEqual(run.elapsed, 1.7)

    def test_failed_update_steps_end_with_the_result_name(self):
        # No key wait, and the exit code of every other failure, so scripts can tell it from success.
        for settings, last_step, result in (
                ({"FAIL_WRITE_FRAMES": 2}, "FW Erase\n", "IAP_INTERFACE_ERROR"),
                # A flipped bit in the programmed flash: the loader never confirms the CRC.
                ({"FLIP_BIT": "0x2000:0"}, "Check CRC\n", "IAP_TIMEOUT")):
            with self.subTest(**settings):
                self.new_device("failed-at-" + last_step.strip().replace(" ", "-"))
                run = self.answer("Y", **settings)
                steps = UPDATE_STEPS[:UPDATE_STEPS.index(last_step) + len(last_step)]
                self.assertRun(run, READ_AS_05 + CONFIRMATION + "You pressed the 'Y' key.\n"
                               "Continuing...\n\n" + steps + result, 255)

    def test_no_driver_library_in_system32(self):
        self.prefix.install_driver(None)
        self.assertRun(self.start(), BANNER + "NvAPI initialization failed.\n", 255)


if __name__ == "__main__":
    unittest.main(verbosity=2)
