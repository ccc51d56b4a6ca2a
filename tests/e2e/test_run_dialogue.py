"""The run from the banner to the user's answer, against the emulated driver and controller."""

import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest

import e2e_paths
from harness import (ANOTHER_RUN, BANNER, CLOSING_PROMPT, CONFIRMATION, TerminalSession,
                     emulator_environment, update_steps)

LOCK_FILE = os.path.join(e2e_paths.PRIVATE_LOCK_DIR, "argb-fw-updater.lock")
SUCCESSFUL_UPDATE = (update_steps(os.path.getsize(e2e_paths.FIRMWARE_IMAGE)) +
                     "Update result:Success\n" + CLOSING_PROMPT)


class RunDialogueTest(unittest.TestCase):
    def setUp(self):
        self.workdir = tempfile.mkdtemp(prefix="argb-e2e-")

    def tearDown(self):
        shutil.rmtree(self.workdir, ignore_errors=True)

    def start(self, program=None, **settings):
        # Each run starts from a fresh device unless a test keeps one on purpose.
        self.runs = getattr(self, "runs", 0) + 1
        settings.setdefault("STATE", os.path.join(self.workdir, f"device-{self.runs}.state"))
        env = emulator_environment(**settings)
        return TerminalSession([program or e2e_paths.UPDATER], env=env, cwd=self.workdir)

    def answer(self, key, **settings):
        session = self.start(**settings)
        session.expect(CONFIRMATION)
        session.type_key(key)
        return session

    def test_reading_at_the_first_query(self):
        session = self.answer("n")
        session.expect(CLOSING_PROMPT)
        session.type_key("x")
        output, code = session.wait()
        self.assertEqual(output, BANNER + "Detected FW version:40.70.00.05\n" + CONFIRMATION +
                         "You pressed the 'n' key.\nExiting...\n" + CLOSING_PROMPT)
        self.assertEqual(code, 0)
        self.assertTrue(session.terminal_restored)

    def test_reading_at_the_third_query(self):
        for kind in ("fail", "00", "ff"):
            with self.subTest(kind=kind):
                session = self.answer("N", VERSION_BAD_READS=2, VERSION_BAD_READ_KIND=kind)
                session.expect(CLOSING_PROMPT)
                session.type_key(" ")
                output, code = session.wait()
                self.assertEqual(output, BANNER + "Detected FW version..:40.70.00.05\n" +
                                 CONFIRMATION + "You pressed the 'N' key.\nExiting...\n" +
                                 CLOSING_PROMPT)
                self.assertEqual(code, 0)

    def test_never_a_reading_ends_without_a_key(self):
        for settings in ({"VERSION_BAD_READS": 5}, {"VERSION_BAD_READS": 9, "VERSION_BAD_READ_KIND": "ff"},
                         {"NO_CONTROLLER": 1}):
            with self.subTest(**settings):
                output, code = self.start(**settings).wait(timeout=10)
                self.assertEqual(output, BANNER + "Detected FW version....Cannot get MCU FW version.\n")
                self.assertEqual(code, 255)

    def test_version_queries_are_paced(self):
        trace = os.path.join(self.workdir, "bus.jsonl")
        session = self.start(VERSION_BAD_READS=5, TRACE=trace)
        # Each dot shows while the program pauses, not at its end.
        session.expect("Detected FW version.")
        self.assertIsNone(session.process.poll())
        self.assertNotIn(b"..", session.output)
        session.wait(timeout=10)
        # Five queries, each 50 ms from write to read and 50 ms after the read, and a pause of
        # 300 ms before the next. A load only adds a little to each; a pause cut short, or made
        # twice, moves a query by 300 ms at least.
        with open(trace) as lines:
            starts = [record["t_us"] for record in map(json.loads, lines)
                      if record["fn"] == "NvAPI_I2CWriteEx"]
        self.assertEqual(len(starts), 5)
        for earlier, later in zip(starts, starts[1:]):
            self.assertGreaterEqual(later - earlier, 400_000)
            self.assertLess(later - earlier, 700_000)

    def test_gate_failures_end_after_a_key(self):
        for version in ("40.71.00.09", "41.70.00.09"):
            with self.subTest(version=version):
                session = self.start(VERSION=version)
                session.expect(CLOSING_PROMPT)
                session.type_key("q")
                output, code = session.wait()
                self.assertEqual(output, BANNER + f"Detected FW version:{version.lower()}\n"
                                 "Abnormal in FW version compare.\n" + CLOSING_PROMPT)
                self.assertEqual(code, 255)

    def test_any_third_and_fourth_byte_passes_the_gate(self):
        session = self.answer("n", VERSION="40.70.ab.09")
        session.expect(CLOSING_PROMPT)
        session.type_key("x")
        output, code = session.wait()
        self.assertIn("Detected FW version:40.70.ab.09\n" + CONFIRMATION, output)
        self.assertEqual(code, 0)

    def test_yes_in_either_case_updates(self):
        for key in ("Y", "y"):
            with self.subTest(key=key):
                session = self.answer(key)
                session.expect(CLOSING_PROMPT)
                session.type_key("k")
                output, code = session.wait()
                self.assertEqual(output, BANNER + "Detected FW version:40.70.00.05\n" +
                                 CONFIRMATION + f"You pressed the '{key}' key.\nContinuing...\n\n" +
                                 SUCCESSFUL_UPDATE)
                self.assertEqual(code, 0)

    def test_enter_and_an_arrow_key_are_one_invalid_answer_each(self):
        # Enter is echoed as the raw CR it reads as; an arrow key as its first code, the second
        # going with it, so the closing prompt still waits for a key of its own.
        for typed, echoed in (("\r", "\r"), ("\x1b[A", "\xe0")):
            with self.subTest(typed=typed):
                output, code = self.answer(typed).close_run()
                self.assertEqual(output, BANNER + "Detected FW version:40.70.00.05\n" +
                                 CONFIRMATION + f"You pressed the '{echoed}' key.\n"
                                 "Invalid input. Exiting...\n" + CLOSING_PROMPT)
                self.assertEqual(code, 1)

    def test_a_key_typed_before_the_question_does_not_answer_it(self):
        session = self.start(VERSION_BAD_READS=3)
        session.expect("Detected FW version.")
        session.type_ahead("y")
        session.expect(CONFIRMATION)
        # The question waits for a key of its own: the 'y' is gone.
        session.type_key("n")
        output, code = session.close_run()
        self.assertEqual(output, BANNER + "Detected FW version...:40.70.00.05\n" + CONFIRMATION +
                         "You pressed the 'n' key.\nExiting...\n" + CLOSING_PROMPT)
        self.assertEqual(code, 0)

    def test_ctrl_c_before_the_answer_still_ends_the_program(self):
        session = self.start(VERSION_BAD_READS=5)
        session.expect("Detected FW version.")
        session.type_ahead("\x03")
        _, code = session.wait(timeout=10)
        self.assertEqual(code, -2)  # SIGINT

    def test_initialise_or_enumeration_failing(self):
        for settings in ({"INIT_STATUS": -6}, {"ENUM_STATUS": -101}):
            with self.subTest(**settings):
                output, code = self.start(**settings).wait(timeout=10)
                self.assertEqual(output, BANNER + "NvAPI initialization failed.\n")
                self.assertEqual(code, 255)

    def test_hooks_offered_or_not_change_nothing(self):
        for hooks in ("none", "begin", "end", "both"):
            with self.subTest(hooks=hooks):
                session = self.answer("n", HOOKS=hooks)
                session.expect(CLOSING_PROMPT)
                session.type_key("x")
                _, code = session.wait()
                self.assertEqual(code, 0)


class DriverLibraryTest(unittest.TestCase):
    """Runs the updater built with a system directory that these tests fill themselves."""

    def setUp(self):
        self.system_dir = e2e_paths.PRIVATE_SYSTEM_DIR
        os.makedirs(self.system_dir, exist_ok=True)
        os.makedirs(e2e_paths.PRIVATE_LOCK_DIR, exist_ok=True)
        self.driver = os.path.join(self.system_dir, "nvapi64.dll")
        self.workdir = tempfile.mkdtemp(prefix="argb-e2e-")

    def tearDown(self):
        if os.path.exists(self.driver):
            os.remove(self.driver)
        shutil.rmtree(self.workdir, ignore_errors=True)

    def start(self):
        env = emulator_environment(STATE=os.path.join(self.workdir, "device.state"))
        # Neither the search path nor the current directory may offer a driver.
        env["LD_LIBRARY_PATH"] = self.workdir
        env["PATH"] = self.workdir + os.pathsep + env.get("PATH", "")
        return TerminalSession([e2e_paths.UPDATER_PRIVATE_SYSTEM], env=env, cwd=self.workdir)

    def run_updater(self):
        return self.start().wait(timeout=10)

    def test_driver_library_missing(self):
        # A driver in the current directory and beside the program is never loaded.
        shutil.copy(e2e_paths.EMULATED_DRIVER, os.path.join(self.workdir, "nvapi64.dll"))
        self.assertEqual(self.run_updater(), (BANNER + "NvAPI initialization failed.\n", 255))

    def test_export_missing(self):
        shutil.copy(e2e_paths.LIBRARY_WITHOUT_EXPORT, self.driver)
        self.assertEqual(self.run_updater(), (BANNER + "NvAPI initialization failed.\n", 255))

    def test_not_a_library(self):
        with open(self.driver, "wb") as planted:
            planted.write(b"MZ not really a library")
        self.assertEqual(self.run_updater(), (BANNER + "NvAPI initialization failed.\n", 255))

    @staticmethod
    def remove_lock_file():
        if os.path.lexists(LOCK_FILE):
            os.remove(LOCK_FILE)

    def assert_lock_refused(self, reason, named=LOCK_FILE):
        self.assertEqual(self.run_updater(), (
            BANNER + "Cannot take the lock that keeps to one update at a time "
            f"({named}: {reason}).\n", 255))
        # The driver was never asked for anything: it would have made the device's state file.
        self.assertFalse(os.path.exists(os.path.join(self.workdir, "device.state")))

    def test_no_lock_directory_stops_before_the_driver(self):
        shutil.copy(e2e_paths.EMULATED_DRIVER, self.driver)
        shutil.rmtree(e2e_paths.PRIVATE_LOCK_DIR)
        self.assert_lock_refused("No such file or directory")

    def test_a_link_or_a_fifo_at_the_lock_path_is_refused(self):
        # The lock directory may be writable by others, who leave these at the path.
        shutil.copy(e2e_paths.EMULATED_DRIVER, self.driver)
        # Beside the lock file, so that a hard link can name it; this user's own file, which
        # fs.protected_hardlinks lets anyone link (a root run once made such a file readable by all).
        target = os.path.join(e2e_paths.PRIVATE_LOCK_DIR, "link-target")
        self.remove_lock_file()

        def hard_link():
            os.close(os.open(target, os.O_CREAT | os.O_EXCL, 0o600))
            os.link(target, LOCK_FILE)
        for kind, plant, reason in (
                ("symbolic link", lambda: os.symlink(target, LOCK_FILE),
                 "Too many levels of symbolic links"),
                ("hard link", hard_link,
                 "the file has another name too (a hard link), so it may be some other file"),
                ("FIFO", lambda: os.mkfifo(LOCK_FILE), "not a regular file")):
            with self.subTest(kind=kind):
                plant()
                planted = os.path.exists(target) and os.stat(target).st_mode
                try:
                    self.assert_lock_refused(reason)
                finally:
                    os.remove(LOCK_FILE)
                self.assertEqual(os.path.exists(target) and os.stat(target).st_mode, planted)
                if planted:
                    os.remove(target)

    def test_a_lock_directory_that_others_can_write_must_be_sticky(self):
        # Others could delete the file while a run holds it, and a second run would lock a new one.
        shutil.copy(e2e_paths.EMULATED_DRIVER, self.driver)
        self.addCleanup(self.remove_lock_file)
        self.addCleanup(os.chmod, e2e_paths.PRIVATE_LOCK_DIR, 0o755)
        self.remove_lock_file()
        os.chmod(e2e_paths.PRIVATE_LOCK_DIR, 0o777)
        self.assert_lock_refused("other users can write to this directory and its sticky bit is "
                                 "not set, so they could replace the lock file",
                                 named=e2e_paths.PRIVATE_LOCK_DIR)
        self.assertFalse(os.path.lexists(LOCK_FILE))
        # Sticky, the file is this user's to remove alone; one that was there is left as it was.
        os.chmod(e2e_paths.PRIVATE_LOCK_DIR, 0o1777)
        os.close(os.open(LOCK_FILE, os.O_CREAT | os.O_EXCL, 0o600))
        self.assertEqual(self.start().answer_and_close("n")[1], 0)
        self.assertEqual(os.stat(LOCK_FILE).st_mode & 0o7777, 0o600)

    @unittest.skipUnless(os.geteuid() == 0, "starts a run as another user")
    def test_another_user_meets_the_lock_file_that_root_made(self):
        shutil.copy(e2e_paths.EMULATED_DRIVER, self.driver)
        self.remove_lock_file()
        as_nobody = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                     "--inh-caps=-all", "--bounding-set=-all", e2e_paths.UPDATER_PRIVATE_SYSTEM]
        previous_umask = os.umask(0o077)  # root's own on many systems
        try:
            first = self.start()
        finally:
            os.umask(previous_umask)
        self.addCleanup(first.kill)
        first.expect(CONFIRMATION)
        second = TerminalSession(as_nobody, cwd="/", env=emulator_environment())
        self.assertEqual(second.wait(timeout=10), (BANNER + ANOTHER_RUN, 255))
        self.assertEqual(first.answer_and_close("n")[1], 0)
        alone = TerminalSession(as_nobody, cwd="/", env=emulator_environment())
        self.assertEqual(alone.answer_and_close("n")[1], 0)

    @unittest.skipUnless(os.geteuid() == 0, "starts runs as other users")
    def test_no_other_user_can_swap_the_file_a_run_holds(self):
        shutil.copy(e2e_paths.EMULATED_DRIVER, self.driver)
        # Users and a group by number alone: setpriv needs no accounts for them.
        lock_dir, user, other, group = e2e_paths.PRIVATE_LOCK_DIR, 64101, 64102, 64100
        self.addCleanup(os.chown, lock_dir, 0, 0)
        self.addCleanup(os.chmod, lock_dir, 0o755)
        line = "Cannot take the lock that keeps to one update at a time ({}: {}).\n".format
        group_may = line(lock_dir, "other users can write to this directory and its sticky bit is "
                         "not set, so they could replace the lock file")
        theirs = line(lock_dir, "the directory belongs to another user, who could replace the lock "
                      "file")
        free = line(LOCK_FILE, "the file belongs to another user, who could replace it while this "
                    "run holds it; no update holds it now, so remove this file and start this "
                    "program again")
        # A run holds the lock while it asks its question, or ends with a line; END ends holders.
        # The last two directories are shared, as /run/lock.
        held, END = CONFIRMATION, (None, None)
        for mode, owner, runs in (
                (0o2770, 0, [(user, group_may), (other, group_may)]),
                (0o755, user, [(0, theirs), (user, held)]),
                (0o1777, 0, [(0, held), END, (user, held)]),
                (0o1777, 0, [(user, held), (0, ANOTHER_RUN), (other, ANOTHER_RUN), END, (0, free),
                             (other, free)])):
            self.remove_lock_file()
            os.chown(lock_dir, owner, group)
            os.chmod(lock_dir, mode)
            holders = []
            for uid, expected in runs + [END]:
                while uid is None and holders:
                    holders.pop().answer_and_close("n")
                if uid is None:
                    continue
                as_user = ["setpriv", f"--reuid={uid}", f"--regid={group}", "--clear-groups",
                           "--inh-caps=-all", "--bounding-set=-all"] if uid else []
                run = TerminalSession(as_user + [e2e_paths.UPDATER_PRIVATE_SYSTEM], cwd="/",
                                      env=emulator_environment())
                self.addCleanup(run.kill)
                try:
                    run.expect(held, timeout=10)
                    holders.append(run)
                    output = held
                except AssertionError:
                    output = run.wait()[0].removeprefix(BANNER)
                self.assertEqual(output, expected, (oct(mode), owner, uid))

    def test_the_lock_file_takes_no_standard_stream_and_serves_every_user(self):
        shutil.copy(e2e_paths.EMULATED_DRIVER, self.driver)
        lock_file = os.path.join(e2e_paths.PRIVATE_LOCK_DIR, "argb-fw-updater.lock")
        # Started with standard output and error closed; it holds the lock while it asks.
        run = subprocess.Popen([e2e_paths.UPDATER_PRIVATE_SYSTEM], stdin=subprocess.PIPE,
                               cwd=self.workdir, preexec_fn=lambda: (os.close(1), os.close(2)))
        for _ in range(500):
            fds = {int(fd): os.readlink(f"/proc/{run.pid}/fd/{fd}")
                   for fd in os.listdir(f"/proc/{run.pid}/fd")}
            if lock_file in fds.values():
                break
            time.sleep(0.01)
        run.communicate(b"n", timeout=10)
        self.assertGreater(next(fd for fd, path in fds.items() if path == lock_file), 2)
        # A lock file this user may only read (another user's) is the same lock all the same.
        # Root reads and writes every file unless it gives up that right.
        os.chmod(lock_file, 0o444)
        drop_override = ["setpriv", "--bounding-set", "-dac_override,-dac_read_search"]
        session = TerminalSession((drop_override if os.geteuid() == 0 else []) +
                                  [e2e_paths.UPDATER_PRIVATE_SYSTEM], cwd=self.workdir,
                                  env=emulator_environment())
        self.assertEqual(session.answer_and_close("n")[1], 0)

    def test_emulated_driver_in_the_system_directory(self):
        shutil.copy(e2e_paths.EMULATED_DRIVER, self.driver)
        output, code = self.start().answer_and_close("n")
        self.assertEqual(output, BANNER + "Detected FW version:40.70.00.05\n" + CONFIRMATION +
                         "You pressed the 'n' key.\nExiting...\n" + CLOSING_PROMPT)
        self.assertEqual(code, 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
