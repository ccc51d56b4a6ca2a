"""Whole updates of the emulated controller, and updates that go wrong."""

import os
import shutil
import struct
import subprocess
import tempfile
import unittest

import e2e_paths
from harness import BANNER, CLOSING_PROMPT, CONFIRMATION, TerminalSession, emulator_environment

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


STEPS = ("Initial FW update process.\nFW Erase\nPrepare CRC\nFlash FW\nCheck CRC\nExit updater\n")


def confirmed(version="40.70.00.05"):
    return (BANNER + f"Detected FW version:{version}\n" + CONFIRMATION +
            "You pressed the 'Y' key.\nContinuing...\n\n")


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
        self.assertEqual(output, confirmed() + STEPS + "Update result:Success\n" + CLOSING_PROMPT)
        self.assertEqual(code, 0)

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
        self.assertIn("block 81/81 to 0x4000: acknowledged", steps)

        output, code = self.start().answer_and_close("n")
        self.assertIn("Detected FW version:40.70.00.09\n", output)
        self.assertEqual(code, 0)

    def test_a_failed_first_start_is_tried_again_at_the_application(self):
        session = self.update(FAIL_WRITE_FRAMES=1)
        session.expect(CLOSING_PROMPT)
        session.type_key("k")
        output, code = session.wait()
        self.assertEqual(output, confirmed() + "Initial FW update process.\n"
                         "Initial FW update process - Second time.\n" +
                         STEPS[len("Initial FW update process.\n"):] + "Update result:Success\n" +
                         CLOSING_PROMPT)
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
            ({"FLIP_BIT": "0x2000:3"}, "Prepare CRC\nFlash FW\nCheck CRC\nIAP_TIMEOUT"),
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

    def test_power_lost_halfway_leaves_a_device_the_next_run_cannot_read(self):
        output, code = self.update(POWER_LOSS_AFTER_FRAME=40).wait(timeout=60)
        self.assertEqual(output, confirmed() + "Initial FW update process.\nFW Erase\n"
                         "Prepare CRC\nFlash FW\nIAP_TIMEOUT")
        self.assertEqual(code, 255)
        # The image is half written: the first blocks are there, the rest is erased.
        image = read_image()
        flash = self.flash()
        self.assertEqual(flash[0x1900:0x1980], image[0x100:0x180])
        self.assertEqual(flash[0x3000:0x3080], b"\xff" * 0x80)
        state = subprocess.run([e2e_paths.EMU_TOOL, "state", self.state], check=True,
                               capture_output=True, text=True).stdout
        self.assertIn("loader", state)

        # Back on power the controller stays in its loader, where the version cannot be read.
        output, code = self.start().wait(timeout=20)
        self.assertEqual(output, BANNER + "Detected FW version....Cannot get MCU FW version.\n")
        self.assertEqual(code, 255)


if __name__ == "__main__":
    unittest.main(verbosity=2)
