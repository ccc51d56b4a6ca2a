"""Runs the updater the way a person does: on a terminal, typing keys when it asks for them."""

import fcntl
import os
import pty
import select
import signal
import subprocess
import termios
import time

BANNER = (
    "\n================================"
    "\n(C) Corvix. Keep the computer powered on until the update has finished."
    "\n--------------------------------"
    "\nCorvix ARGB FW updater v0.0.1.3"
    "\n================================\n"
)
CLOSING_PROMPT = "\nPress anykey to close the update.\n"
CONFIRMATION = "* Target FW version:40.70.00.09 \n\nDo you want to continue? (Y/N): \n"
LOADER_FOUND = "The controller is in its update loader: its firmware is missing or incomplete.\n"
ANOTHER_RUN = "Another update is running. Let it finish, then start this program again.\n"


def flash_progress(blocks):
    """What a terminal receives while the image's blocks are written: each block's count over the
    last, then blanks over the longest, so the screen ends as without it."""
    shown = "".join(f"\r  block {n} of {blocks} ({n * 100 // blocks}%)" for n in range(1, blocks + 1))
    return shown + "\r" + " " * len(f"  block {blocks} of {blocks} (100%)") + "\r"


def update_steps(image_size, first="Initial FW update process.\n"):
    """The texts of an update on a terminal, up to "Exit updater"."""
    return (first + "FW Erase\nPrepare CRC\nFlash FW\n" + flash_progress((image_size + 127) // 128) +
            "Check CRC\nExit updater\n")


def emulator_environment(**settings):
    """The caller's environment without emulator settings, plus the given ones."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("ARGB_EMU_")}
    for key, value in settings.items():
        env["ARGB_EMU_" + key] = str(value)
    return env


class TerminalSession:
    """One run of a program with standard input and output on a pseudo-terminal.

    Output post-processing and echo are switched off on the terminal, so the captured bytes are
    exactly what the program wrote. The terminal is the program's controlling terminal, so that
    Ctrl+C and closing the terminal reach it as they reach a program in a terminal window.
    """

    def __init__(self, argv, env=None, cwd=None):
        self.master, self.slave = pty.openpty()
        attributes = termios.tcgetattr(self.slave)
        attributes[1] &= ~termios.OPOST
        attributes[3] &= ~termios.ECHO
        termios.tcsetattr(self.slave, termios.TCSANOW, attributes)
        self.started = time.monotonic()
        self.process = subprocess.Popen(
            argv, stdin=self.slave, stdout=self.slave, stderr=subprocess.PIPE, env=env, cwd=cwd,
            start_new_session=True,
            preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        self.output = b""
        self.exit_code = None
        self.elapsed = None

    def _pump(self, timeout):
        readable, _, _ = select.select([self.master], [], [], timeout)
        if readable:
            try:
                self.output += os.read(self.master, 65536)
            except OSError:
                pass

    def expect(self, text, timeout=20.0):
        """Waits until the output so far contains `text`."""
        wanted = text.encode("latin-1") if isinstance(text, str) else text
        deadline = time.monotonic() + timeout
        while wanted not in self.output:
            if time.monotonic() > deadline:
                raise AssertionError(f"timed out waiting for {wanted!r}; output so far: {self.output!r}")
            if self.process.poll() is not None:
                self._pump(0.05)
                if wanted not in self.output:
                    raise AssertionError(f"exited ({self.process.returncode}) before {wanted!r}; "
                                         f"output: {self.output!r}")
                break
            self._pump(0.02)

    def _waits_for_a_key(self):
        return not termios.tcgetattr(self.slave)[3] & termios.ICANON

    def type_ahead(self, keys):
        """Types `keys` now, whether or not the program is reading a key."""
        os.write(self.master, keys.encode("latin-1"))

    def hang_up(self):
        """Closes the terminal, as closing its window does; the program runs on without it."""
        os.close(self.master)
        os.close(self.slave)
        self.master = self.slave = None

    def wait_without_terminal(self, timeout=60.0):
        """After hang_up(): waits for the exit; returns the exit code."""
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError(f"still running {timeout} s after its terminal closed") from None
        self.process.stderr.close()
        return self.process.returncode

    def wait_for_key_read(self, timeout=20.0):
        """Waits until the program is reading a key (its terminal is in raw mode)."""
        deadline = time.monotonic() + timeout
        while not self._waits_for_a_key():
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise AssertionError(f"the program did not wait for a key; output: {self.output!r}")
            self._pump(0.005)

    def type_key(self, keys, timeout=20.0):
        """Types `keys` once the program is reading a key."""
        self.wait_for_key_read(timeout)
        os.write(self.master, keys.encode("latin-1") if isinstance(keys, str) else keys)

    def answer_and_close(self, answer, closing_key="x"):
        """Answers the confirmation, then the closing prompt; returns (output, exit code)."""
        self.expect(CONFIRMATION)
        self.type_key(answer)
        return self.close_run(closing_key)

    def close_run(self, closing_key="x"):
        """Answers the closing prompt; returns (output, exit code)."""
        self.expect(CLOSING_PROMPT)
        self.type_key(closing_key)
        return self.wait()

    def wait(self, timeout=60.0):
        """Waits for the exit without typing anything; returns (output text, exit code)."""
        deadline = time.monotonic() + timeout
        while self.process.poll() is None:
            if time.monotonic() > deadline:
                self.kill()
                raise AssertionError(f"still running after {timeout} s (waiting for a key?); "
                                     f"output: {self.output!r}")
            self._pump(0.02)
        self.elapsed = time.monotonic() - self.started
        self._pump(0.05)
        while select.select([self.master], [], [], 0)[0]:
            before = len(self.output)
            self._pump(0)
            if len(self.output) == before:
                break
        self.exit_code = self.process.returncode
        self.terminal_restored = not self._waits_for_a_key()
        self.process.stderr.close()
        os.close(self.master)
        os.close(self.slave)
        return self.output.decode("latin-1"), self.exit_code

    def kill(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
