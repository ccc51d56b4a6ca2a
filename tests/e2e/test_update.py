"""Whole updates of the emulated controller, and updates that go wrong."""

import json
import os
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import unittest

import e2e_paths
from harness import (ANOTHER_RUN, BANNER, CLOSING_PROMPT, CONFIRMATION, LOADER_FOUND,
                     TerminalSession, emulator_environment, flash_progress, update_steps)

STATE_HEADER = 20
FLASH_SIZE = 0x10000
IMAGE_BASE = 0x1800
INFO_START, INFO_END = 0x1820, 0x1828
CRC_START_OFFSET = 40


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def read_image():
    with open(e2e_paths.FIRMWARE_IMAGE, "rb") as image:
        return image.read()


IMAGE_BLOCKS = (os.path.getsize(e2e_paths.FIRMWARE_IMAGE) + 127) // 128
STEPS = update_steps(os.path.getsize(e2e_paths.FIRMWARE_IMAGE))
SUCCESS = "Update result:Success\n" + CLOSING_PROMPT
NO_VERSION = BANNER + "Detected FW version....Cannot get MCU FW version.\n"
# Slow enough block writes to act while "Flash FW" runs (about 2 s).
SLOW_FLASH = {"PROGRAM_MS": 25}


def confirmed(version="40.70.00.05", key="Y"):
    return (BANNER + f"Detected FW version:{version}\n" + CONFIRMATION +
            f"You pressed the '{key}' key.\nContinuing...\n\n")


def recovery(key):
    """A run that finds only the loader and is answered with `key`, up to the answer's verdict."""
    return NO_VERSION + LOADER_FOUND + CONFIRMATION + f"You pressed the '{key}' key.\n"


class UpdateTest(unittest.TestCase):
    def setUp(self):
        self.workdir = tempfile.mkdtemp(prefix="argb-e2e-")
        self.state = os.path.join(self.workdir, "device.state")
        self.trace = os.path.join(self.workdir, "bus.jsonl")

    def tearDown(self):
        shutil.rmtree(self.workdir, ignore_errors=True)

    def start(self, **settings):
        settings.setdefault("STATE", self.state)
        settings.setdefault("TRACE", self.trace)
        return TerminalSession([e2e_paths.UPDATER], env=emulator_environment(**settings),
                               cwd=self.workdir)

    def update(self, **settings):
        """Answers Y; returns the session, still running if it waits for the closing key."""
        session = self.start(**settings)
        session.expect(CONFIRMATION)
        session.type_key("Y")
        return session

    def flash(self):
        with open(self.state, "rb") as state:
            content = state.read()
        self.assertEqual(content[:8], b"ARGBEMU\0")
        return content[STATE_HEADER:STATE_HEADER + FLASH_SIZE]

    def annotated_trace(self):
        return subprocess.run([e2e_paths.EMU_TOOL, "trace", self.trace], check=True,
                              capture_output=True, text=True).stdout

    def test_full_update_then_a_second_run_reads_the_new_version(self):
        session = self.update()
        session.expect(CLOSING_PROMPT)
        session.type_key("k")
        output, code = session.wait()
        self.assertEqual(output, confirmed() + STEPS + SUCCESS)
        self.assertEqual(code, 0)
        self.assert_updated()

        output, code = self.start().answer_and_close("n")
        self.assertIn("Detected FW version:40.70.00.09\n", output)
        self.assertEqual(code, 0)

    def assert_updated(self):
        """The state file holds the whole image, its information block and nothing after it."""
        image = read_image()
        flash = self.flash()
        end = IMAGE_BASE + len(image)
        self.assertEqual(flash[IMAGE_BASE:INFO_START], image[:INFO_START - IMAGE_BASE])
        self.assertEqual(flash[INFO_END:end], image[INFO_END - IMAGE_BASE:])
        self.assertEqual(flash[end:], b"\xff" * (FLASH_SIZE - end))
        covered = len(image) - CRC_START_OFFSET
        self.assertEqual(flash[INFO_START:INFO_END],
                         struct.pack("<HHI", crc16(image[CRC_START_OFFSET:]), 0x1A0C, covered))

        steps = self.annotated_trace()
        self.assertIn("erase 0x1800..0xFFFF: acknowledged", steps)
        self.assertIn(f"block {IMAGE_BLOCKS}/{IMAGE_BLOCKS} to 0x4000: acknowledged", steps)

    def test_a_failed_first_start_is_tried_again_at_the_application(self):
        session = self.update(FAIL_WRITE_FRAMES=1)
        session.expect(CLOSING_PROMPT)
        session.type_key("k")
        output, code = session.wait()
        self.assertEqual(output, confirmed() + "Initial FW update process.\n"
                         "Initial FW update process - Second time.\n" +
                         STEPS[len("Initial FW update process.\n"):] + SUCCESS)
        self.assertEqual(code, 0)

    def test_three_failed_starts_stop_before_anything_is_erased(self):
        # The application never acknowledges, so it never hands over and no loader answers.
        output, code = self.update(NO_ACK_FRAMES="1,2").wait(timeout=60)
        self.assertEqual(output, confirmed() + "Initial FW update process.\n"
                         "Initial FW update process - Second time.\nIAP_INTERFACE_ERROR")
        self.assertEqual(code, 255)
        steps = self.annotated_trace()
        self.assertIn("not acknowledged after 3002 polls", steps)
        self.assertNotIn("erase", steps)

    def test_failing_steps_stop_with_their_result_and_exit_code_minus_one(self):
        cases = [
            ({"FAIL_WRITE_FRAMES": 2}, "FW Erase\nIAP_INTERFACE_ERROR"),
            ({"SILENT_LOADER": 1}, "FW Erase\nIAP_TIMEOUT"),
            ({"FLIP_BIT": "0x2000:3"},
             "Prepare CRC\nFlash FW\n" + flash_progress(IMAGE_BLOCKS) + "Check CRC\nIAP_TIMEOUT"),
            ({"FAIL_WRITE_FRAMES": 89}, "Check CRC\nExit updater\nIAP_INTERFACE_ERROR"),
        ]
        for settings, expected_end in cases:
            with self.subTest(**settings):
                state = os.path.join(self.workdir, f"{len(os.listdir(self.workdir))}.state")
                output, code = self.update(STATE=state, **settings).wait(timeout=60)
                self.assertTrue(output.startswith(confirmed() + "Initial FW update process.\n"),
                                output)
                self.assertTrue(output.endswith(expected_end), output)
                self.assertEqual(code, 255)

    def loader_only_device(self):
        """A device whose application area is erased, as after an update cut off at its erase."""
        flash = bytes(i & 0xFF for i in range(IMAGE_BASE)) + b"\xff" * (FLASH_SIZE - IMAGE_BASE)
        header = b"ARGBEMU\0" + struct.pack("<I", 1) + bytes([1, 0x40, 0x70, 0x00, 0x09, 0, 0, 0])
        with open(self.state, "wb") as state:
            state.write(header + flash)

    def test_power_lost_halfway_then_the_next_run_restores_the_firmware(self):
        # Frame 2 is the erase, 4 the information block, 40 an image block; after frame 88 the
        # loader has checked the whole image, so the application starts at the next power-on.
        for cut in (2, 4, 40, 88):
            with self.subTest(cut=cut):
                self.state = os.path.join(self.workdir, f"cut-{cut}.state")
                output, code = self.update(POWER_LOSS_AFTER_FRAME=cut).wait(timeout=60)
                self.assertTrue(output.startswith(confirmed()), output)
                self.assertTrue(output.endswith("IAP_TIMEOUT"), output)
                self.assertEqual(code, 255)

                session = self.start()
                if cut == 88:
                    output, code = session.answer_and_close("n")
                    self.assertIn("Detected FW version:40.70.00.09\n", output)
                    continue
                session.expect(LOADER_FOUND + CONFIRMATION)
                session.type_key("y")
                output, code = session.close_run("k")
                self.assertEqual(output, recovery("y") + "Continuing...\n\n" + STEPS + SUCCESS)
                self.assertEqual(code, 0)
                self.assert_updated()

                output, code = self.start().answer_and_close("n")
                self.assertEqual(output, BANNER + "Detected FW version:40.70.00.09\n" +
                                 CONFIRMATION + "You pressed the 'n' key.\nExiting...\n" +
                                 CLOSING_PROMPT)
                self.assertEqual(code, 0)

    def test_a_declined_recovery_leaves_the_device_as_it_was(self):
        self.loader_only_device()
        with open(self.state, "rb") as state:
            before = state.read()
        for key, verdict in (("n", "Exiting...\n"), ("x", "Invalid input. Exiting...\n")):
            with self.subTest(key=key):
                session = self.start()
                session.expect(CONFIRMATION)
                session.type_key(key)
                output, code = session.close_run()
                self.assertEqual(output, recovery(key) + verdict + CLOSING_PROMPT)
                self.assertEqual(code, 255)
                with open(self.state, "rb") as state:
                    self.assertEqual(state.read(), before)
        # Only the version queries and the one probe read reached the bus: no frame was written.
        with open(self.trace) as trace:
            calls = [json.loads(line) for line in trace]
        self.assertFalse([c for c in calls if c["fn"] == "NvAPI_I2CWriteEx" and c["regSize"] == 0])
        self.assertEqual([c["dev"] for c in calls if c["fn"] == "NvAPI_I2CReadEx" and
                          c["regSize"] == 0], ["0x44", "0x44"])

    def test_a_loader_that_never_takes_the_start(self):
        self.loader_only_device()
        output, code = self.update(SILENT_LOADER=1).wait(timeout=60)
        self.assertEqual(output, recovery("Y") + "Continuing...\n\nInitial FW update process.\n"
                         "IAP_TIMEOUT")
        self.assertEqual(code, 255)
        self.assertIn("start at 0x44: not acknowledged after 3002 polls", self.annotated_trace())

    def test_the_terminal_cannot_cut_the_update_off(self):
        # Ctrl+C and keys typed while the image is written: the update goes on, and the keys do
        # not answer the closing prompt.
        session = self.update(**SLOW_FLASH)
        session.expect("Flash FW\n\r  block 1 ")
        session.type_ahead("\x03k\x1c")
        session.expect(CLOSING_PROMPT)
        time.sleep(0.2)
        self.assertIsNone(session.process.poll(), "a typed-ahead key closed the run")
        output, code = session.close_run()
        self.assertEqual(output, confirmed() + STEPS + SUCCESS)
        self.assertEqual(code, 0)

        # The terminal closed halfway: the update still ends, and the device holds the image.
        os.remove(self.state)
        session = self.update(**SLOW_FLASH)
        session.expect("Flash FW\n\r  block 1 ")
        session.hang_up()
        self.assertEqual(session.wait_without_terminal(), 0)
        self.assert_updated()
        self.assertIn("valid", self.device_report())

    def test_a_terminal_closed_at_the_closing_prompt_ends_the_run(self):
        # The window closed after an update. SIGHUP is ignored from the update on, so only the key
        # read, which fails at once on a terminal that is gone, can end the run: retried, it would
        # spin without end.
        session = self.update()
        session.expect(CLOSING_PROMPT)
        session.wait_for_key_read()
        session.hang_up()
        # A spin never ends; the read's failure ends the run at once, even on a busy machine.
        self.assertEqual(session.wait_without_terminal(timeout=20), 0)

    def test_a_closed_pipe_or_a_stop_signal_cannot_cut_the_update_off(self):
        # printf Y | argb-fw-updater | reader, and once "Flash FW" is out the reader stops reading,
        # or a SIGTSTP comes straight to the program (in a process group of its own in this
        # session, where the signal stops a process).
        for cut in ("closed pipe", "stop signal"):
            with self.subTest(cut=cut):
                for path in (self.state, self.trace):
                    if os.path.exists(path):
                        os.remove(path)
                answer, typed = os.pipe()
                os.write(typed, b"Y")
                os.close(typed)
                run = subprocess.Popen([e2e_paths.UPDATER], stdin=answer, stdout=subprocess.PIPE,
                                       cwd=self.workdir, preexec_fn=os.setpgrp, env=emulator_environment(
                                           STATE=self.state, TRACE=self.trace, **SLOW_FLASH))
                os.close(answer)
                output = b""
                while b"Flash FW\n" not in output and (chunk := os.read(run.stdout.fileno(), 99)):
                    output += chunk
                try:  # the rest of the output is read on, so that only a stop can hold it up
                    if cut == "closed pipe":
                        run.stdout.close()
                        run.wait(timeout=20)
                    else:
                        os.kill(run.pid, signal.SIGTSTP)
                        run.communicate(timeout=20)
                finally:
                    if run.poll() is None:
                        os.killpg(run.pid, signal.SIGKILL)
                self.assertEqual(run.returncode, 0)
                self.assert_updated()

    def device_report(self):
        return subprocess.run([e2e_paths.EMU_TOOL, "state", self.state], check=True,
                              capture_output=True, text=True).stdout

    # One run at a time: a second run on the same machine never reaches the bus while a first
    # one runs.
    def assert_refused(self, name):
        trace = os.path.join(self.workdir, name + ".jsonl")
        refused = self.start(STATE=os.path.join(self.workdir, name + ".state"), TRACE=trace)
        self.assertEqual(refused.wait(timeout=10), (BANNER + ANOTHER_RUN, 255))
        self.assertFalse(os.path.exists(trace), "the refused run called the driver")

    def test_a_second_run_refuses_while_the_first_asks_or_writes(self):
        first = self.start(**SLOW_FLASH)
        first.expect(CONFIRMATION)
        self.assert_refused("second-at-the-prompt")
        first.type_key("Y")
        first.expect("Flash FW\n\r  block 1 ")
        self.assert_refused("second-during-flash")
        output, code = first.close_run()
        self.assertEqual(output, confirmed() + STEPS + SUCCESS)
        self.assertEqual(code, 0)

    def test_a_killed_run_leaves_no_lock_behind(self):
        first = self.start()
        first.expect(CONFIRMATION)
        first.kill()
        output, code = self.start().answer_and_close("n")
        self.assertTrue(output.endswith("Exiting...\n" + CLOSING_PROMPT), output)
        self.assertEqual(code, 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
