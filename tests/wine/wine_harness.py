"""Runs the Windows build for real under Wine, the way a person runs it in a console window.

One Wine prefix serves the whole suite: it is created afresh at the first use, its wineserver is
kept running between the runs (starting one costs seconds), and both are gone when the suite ends.

Standard input is a pseudo-terminal, because Wine's console reads single keys only from a
terminal. Standard output goes to a file: on the terminal Wine would wrap it in escape sequences,
while the file holds exactly what the program wrote (lines end in CR LF). A run can also have its
output on the terminal, where the escape sequences are undone, for what a console window shows.
"""

import atexit
import functools
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import harness as e2e_harness  # noqa: E402

# The console texts are the same on both systems; the Wine tests take them from here.
BANNER, CLOSING_PROMPT, CONFIRMATION = (e2e_harness.BANNER, e2e_harness.CLOSING_PROMPT,
                                        e2e_harness.CONFIRMATION)

UPDATER = os.environ.get("ARGB_WIN_UPDATER", "")
EMULATED_DRIVER = os.environ.get("ARGB_WIN_EMULATED_DRIVER", "")
PLANTED_DRIVER = os.environ.get("ARGB_WIN_PLANTED_DRIVER", "")
PLANTED_WINMM = os.environ.get("ARGB_WIN_PLANTED_WINMM", "")
PLANTED_HELPER = os.environ.get("ARGB_WIN_PLANTED_HELPER", "")
WINMM_FALLBACK_PROBE = os.environ.get("ARGB_WIN_WINMM_FALLBACK_PROBE", "")
STACK_GUARD_PROBE = os.environ.get("ARGB_WIN_STACK_GUARD_PROBE", "")
SEARCH_PROBE = os.environ.get("ARGB_WIN_SEARCH_PROBE", "")
SLEEP_PROBE = os.environ.get("ARGB_WIN_SLEEP_PROBE", "")
NEIGHBOUR_PROBE = os.environ.get("ARGB_WIN_NEIGHBOUR_PROBE", "")
CLOSE_ITEM_PROBE = os.environ.get("ARGB_WIN_CLOSE_ITEM_PROBE", "")
PREFIX_DIR = os.environ.get("ARGB_WINE_PREFIX", "")

DRIVER_NAME = "nvapi64.dll"
# What `ver` shows for each Windows version that the tests switch the prefix to.
WINDOWS_VERSIONS = {"win10": "Microsoft Windows 10.", "win7": "Microsoft Windows 6.1."}
SERVER_IDLE_SECONDS = 30
# No Mono or Gecko install prompts, no menu entries for the host desktop.
DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"
# What Wine writes when it ends before the program starts, as under load (see docs/windows.md).
WINE_NOT_STARTED = "failed to map the shared user data"
UPDATER_NAME = "argb-fw-updater.exe"
# Modules whose calls on to other modules a call trace leaves out, so it shows the program's own.
SYSTEM_CALLERS = ("kernel32", "kernelbase", "msvcrt", "ucrtbase")

# A call in Wine's call trace: the thread, the function and its arguments.
RELAY_CALL = re.compile(r"^([0-9a-f]+):Call [\w.]+\.(\w+)\(([^)]*)\)", re.M)
# A return in it: the thread, the function and the value it gave back.
RELAY_RETURN = re.compile(r"^([0-9a-f]+):Ret  [\w.]+\.(\w+)\(\) retval=([0-9a-f]+)", re.M)


def traced_calls(trace, functions):
    """The calls of these functions in a call trace, in order, as "name(arguments)"."""
    return [f"{name}({arguments})" for _, name, arguments in RELAY_CALL.findall(trace)
            if name in functions]


def crlf(text):
    """A console text as it reaches a file on Windows: every line end is CR LF."""
    return text.replace("\n", "\r\n")


# Wine's console draws text on a terminal with escape sequences in between: it hides the cursor
# around each character and moves it on over blanks instead of writing them.
CURSOR_FORWARD = re.compile(rb"\x1b\[(\d*)C")
OTHER_ESCAPES = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07")


def as_written(screen):
    """What a program wrote to the console, from what Wine drew on the terminal for it."""
    screen = CURSOR_FORWARD.sub(lambda match: b" " * int(match.group(1) or 1), screen)
    return OTHER_ESCAPES.sub(b"", screen).decode("latin-1")


class WinePrefix:
    """A Wine installation of its own, with the updater copied to C:\\updater."""

    def __init__(self, path):
        self.path = os.path.abspath(path)
        self.traced_calls = None
        self.drive_c = os.path.join(self.path, "drive_c")
        self.system32 = os.path.join(self.drive_c, "windows", "system32")
        self.updater_dir = os.path.join(self.drive_c, "updater")
        self.work_dir = os.path.join(self.drive_c, "work")
        self.version = None

    def environment(self, **extra):
        # Nothing of the caller's Wine or emulator settings, and no display to open windows on.
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("ARGB_EMU_", "WINE", "DISPLAY", "WAYLAND_DISPLAY"))}
        env.update({
            "WINEPREFIX": self.path,
            "WINEARCH": "win64",
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": DLL_OVERRIDES,
        })
        env.update(extra)
        return env

    def _wine_tool(self, *argv, timeout=120):
        """Runs a tool to its end; returns its standard output. The tools are idempotent, and one
        started while Wine brings its desktop back after an ended session may fail to start
        ("ShellExecuteEx failed"), so a failure gets one more try."""
        try:
            return self._run_tool_once(argv, timeout)
        except RuntimeError:
            time.sleep(1)
            return self._run_tool_once(argv, timeout)

    def _run_tool_once(self, argv, timeout):
        # Into files, not pipes: the server and the services that a tool starts keep their
        # inherited output open long after the tool has ended.
        log_path = self.path + "-tools.log"
        with open(log_path, "ab") as log, tempfile.TemporaryFile() as output:
            log.write(f"$ {' '.join(argv)}\n".encode())
            log.flush()
            result = subprocess.run(list(argv), env=self.environment(), timeout=timeout,
                                    stdin=subprocess.DEVNULL, stdout=output, stderr=log)
            output.seek(0)
            text = output.read().decode("latin-1")
            log.write(text.encode("latin-1"))
        if result.returncode != 0:
            raise RuntimeError(f"{' '.join(argv)} failed ({result.returncode}); see {log_path}")
        return text

    def create(self):
        self.stop()  # a server left over by an interrupted run would keep the old prefix alive
        shutil.rmtree(self.path, ignore_errors=True)
        if os.path.exists(self.path + "-tools.log"):
            os.remove(self.path + "-tools.log")
        os.makedirs(self.path)
        # The server is started first and kept between the runs: the set-up then runs in one
        # server, and no run pays for starting a new one with its services. stop() ends it; should
        # the suite be killed before, it ends by itself once idle for a while.
        self._wine_tool("wineserver", f"--persistent={SERVER_IDLE_SECONDS}")
        self._wine_tool("wine", "wineboot", "--init")
        # Windows without a display: Wine's null driver, which each process reads at its start
        # (the desktop's among them). Written into the registry file while no server runs: a
        # `reg add` straight after the set-up fails now and then.
        self.stop()
        with open(os.path.join(self.path, "user.reg"), "a") as registry:
            registry.write('\n[Software\\\\Wine\\\\Drivers]\n"Graphics"="null"\n')
        self._wine_tool("wineserver", f"--persistent={SERVER_IDLE_SECONDS}")
        os.makedirs(self.updater_dir)
        os.makedirs(self.work_dir)
        shutil.copy(UPDATER, os.path.join(self.updater_dir, UPDATER_NAME))
        self.version = None
        self.traced_calls = None

    def run_tool(self, *argv):
        """Runs a Wine program (reg, cmd, ...) in the prefix to its end; returns its output."""
        return self._wine_tool("wine", *argv)

    def set_windows_version(self, version):
        """Switches the reported Windows version ("win10", "win7") without any dialog."""
        if version == self.version:
            return
        self._wine_tool("wine", "winecfg", "/v", version)
        # A switch that did not happen would otherwise look like a fault of the program.
        reported = self._wine_tool("wine", "cmd", "/c", "ver")
        if WINDOWS_VERSIONS[version] not in reported:
            raise RuntimeError(f"the prefix reports {reported.strip()!r} instead of {version}")
        self.version = version

    def trace_calls(self, functions, not_from):
        """The environment for runs in which Wine writes each call of `functions` to standard
        error ("0024:Call KERNEL32.Sleep(00000064) ret=140002169"), except calls made by the
        modules in `not_from`."""
        settings = (";".join(functions), ";".join(not_from))
        if settings != self.traced_calls:
            # Read by every process at its start; without +relay they cost nothing.
            for name, value in zip(("RelayInclude", "RelayFromExclude"), settings):
                self._wine_tool("wine", "reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", name,
                                "/t", "REG_SZ", "/d", value, "/f")
            self.traced_calls = settings
        return {"WINEDEBUG": "+relay"}

    def limit_relay_trace(self, functions):
        """Limits Wine's call trace (WINEDEBUG=+relay) to the program's own calls of these
        functions: calls that Windows' modules make on to each other would count twice."""
        self.trace_calls(functions, not_from=SYSTEM_CALLERS)

    def install_driver(self, library):
        """Puts `library` into system32 as the driver, or removes the driver when None."""
        target = os.path.join(self.system32, DRIVER_NAME)
        if os.path.exists(target):
            os.remove(target)
        if library:
            shutil.copy(library, target)

    def end_session(self):
        """Asks every window of the prefix whether the session may end, as Windows does before a
        shutdown: 1 when one refuses, 0 when none does, "no answer" when a window's thread does
        not look at its messages (wineboot waits for it)."""
        try:
            return subprocess.run(["wine", "wineboot", "--end-session"], env=self.environment(),
                                  timeout=20, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        except subprocess.TimeoutExpired:
            return "no answer"

    def stop(self):
        """Ends the prefix's wineserver and every process in it, and waits until they are gone."""
        if os.path.isdir(self.path):
            env = self.environment()
            subprocess.run(["wineserver", "--kill"], env=env, timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "--wait"], env=env, timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def discard(self):
        """Stops the prefix and deletes it (some 700 MB); the runs' output files stay."""
        self.stop()
        shutil.rmtree(self.path, ignore_errors=True)

    @staticmethod
    def windows_path(*parts):
        """The Windows form of a path below drive C, e.g. windows_path("updater", "x.exe")."""
        return "C:\\" + "\\".join(parts)


_shared = None
_creation_error = None


def shared_prefix():
    """The suite's one prefix, created at the first call and stopped when the suite ends."""
    global _shared, _creation_error
    if _creation_error is not None:
        raise RuntimeError("the Wine prefix could not be created") from _creation_error
    if _shared is None:
        if not PREFIX_DIR:
            raise RuntimeError("ARGB_WINE_PREFIX is not set; run the suite through CTest")
        prefix = WinePrefix(PREFIX_DIR)
        atexit.register(prefix.discard)
        # A SIGTERM (an interrupted job) ends the suite like Ctrl+C, which unittest does not catch,
        # so the exit handler stops the server then too; after a SIGKILL it ends once idle.
        signal.signal(signal.SIGTERM, signal.default_int_handler)
        started = time.monotonic()
        try:
            prefix.create()
        except Exception as error:
            _creation_error = error  # once is enough: every test would try again for seconds
            raise
        print(f"Wine prefix created in {time.monotonic() - started:.1f} s", file=sys.stderr)
        _shared = prefix
    return _shared


def emulator_settings(**settings):
    """ARGB_EMU_* variables for a run; files they name must be given in Windows form."""
    return {"ARGB_EMU_" + key: str(value) for key, value in settings.items()}


class UpdaterTestCase(unittest.TestCase):
    """Runs of the updater in the suite's prefix, as Windows 10 with the emulated driver."""

    def setUp(self):
        self.prefix = shared_prefix()
        self.prefix.set_windows_version("win10")
        self.prefix.install_driver(EMULATED_DRIVER)


class WineRun:
    """One run of a Windows program in the prefix, with keys typed when it asks for them."""

    def __init__(self, prefix, program, cwd=None, env=None, name="run", from_shell=False,
                 output_on_terminal=False):
        """`from_shell` starts it from a command prompt (cmd /c) that shares its console;
        `output_on_terminal` puts its output in the console window instead of a file."""
        self.prefix = prefix
        runs = os.path.join(os.path.dirname(prefix.path), "runs")
        os.makedirs(runs, exist_ok=True)
        self.output_path = os.path.join(runs, name + ".out")
        self.errors_path = os.path.join(runs, name + ".err")
        self.master, self.slave = pty.openpty()
        self.screen = None
        if output_on_terminal:
            # No output processing on the terminal: its bytes are the ones Wine's console wrote.
            attributes = termios.tcgetattr(self.slave)
            attributes[1] &= ~termios.OPOST
            termios.tcsetattr(self.slave, termios.TCSANOW, attributes)
            self.screen = b""
        command = [program] if isinstance(program, str) else list(program)  # with its arguments
        argv = ["wine", "cmd", "/c", *command] if from_shell else ["wine", *command]
        self.start = functools.partial(
            subprocess.Popen, argv, stdin=self.slave, cwd=cwd or prefix.work_dir,
            env=prefix.environment(**(env or {})), start_new_session=True)
        self.restarted = False
        self._start()

    def _start(self, errors_mode="wb"):
        with open(self.output_path, "wb") as output, open(self.errors_path, errors_mode) as errors:
            self.process = self.start(stdout=self.slave if self.screen is not None else output,
                                      stderr=errors)
        self.started = time.monotonic()

    def _restarted(self):
        """Starts the run once more where Wine ended before the program began (it could not place
        its shared page, which a loaded machine makes more likely): nothing ran, nothing was read."""
        if self.restarted or self.output() or WINE_NOT_STARTED not in self.errors():
            return False
        self.restarted = True
        self._start(errors_mode="ab")  # Wine's words kept, for the record
        return True

    def output(self):
        if self.screen is None:
            with open(self.output_path, "rb") as output:
                return output.read().decode("latin-1")
        while self.master is not None and select.select([self.master], [], [], 0)[0]:
            try:
                drawn = os.read(self.master, 65536)
            except OSError:  # the program has ended and closed its side of the terminal
                break
            if not drawn:
                break
            self.screen += drawn
            with open(self.output_path, "ab") as output:
                output.write(drawn)
        return as_written(self.screen)

    def errors(self):
        with open(self.errors_path, "rb") as errors:
            return errors.read().decode("latin-1", "replace")

    def _reads_single_keys(self):
        # Wine switches the terminal to raw mode for its first key read. A key typed before that
        # would meet the line discipline, which turns a CR into LF.
        return not termios.tcgetattr(self.slave)[3] & (termios.ICANON | termios.ECHO)

    def type_key(self, keys, after, timeout=30.0):
        """Types `keys` once the output shows `after` (a console text, line ends as "\\n")."""
        wanted = crlf(after)
        deadline = time.monotonic() + timeout
        while wanted not in self.output() or not self._reads_single_keys():
            if self.process.poll() is not None and not self._restarted():
                # What it wrote last is still in the terminal, gone once that is closed.
                output = self.output()
                self._close_terminal()
                raise AssertionError(f"exited ({self.process.returncode}) before asking for a key "
                                     f"after {wanted!r}; output: {output!r}; errors: "
                                     f"{self.errors()[-2000:]!r}")
            if time.monotonic() > deadline:
                self.kill()
                raise AssertionError(f"timed out waiting for {wanted!r} and a key read; "
                                     f"output: {self.output()!r}")
            time.sleep(0.01)
        os.write(self.master, keys.encode("latin-1"))

    def still_running(self, after, seconds=0.5):
        """Whether the program, once the output shows `after`, is still running `seconds` later
        (at a prompt: waiting for a key, not ending with one typed earlier)."""
        deadline = time.monotonic() + 30.0
        while crlf(after) not in self.output():
            if self.process.poll() is not None or time.monotonic() > deadline:
                return False
            time.sleep(0.01)
        time.sleep(seconds)
        return self.process.poll() is None

    def wait(self, timeout=30.0):
        """Waits for the program to end by itself; returns (output, exit code).

        Only an exit of its own counts: a process that was killed reads as exit code 0 in Wine.
        """
        try:
            self.process.wait(timeout=timeout)
            if self._restarted():
                self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError(f"still running after {timeout} s (waiting for a key?); "
                                 f"output: {self.output()!r}") from None
        self.elapsed = time.monotonic() - self.started
        output = self.output()
        self._close_terminal()
        return output, self.process.returncode

    def interrupt(self):
        """Ctrl+C: Wine hands a console's Ctrl+C to each of its processes as a SIGINT, which the
        process turns into a call of its console control handlers."""
        os.kill(self.process.pid, signal.SIGINT)

    def hang_up(self):
        """Closes the terminal under the program, as a terminal that goes away."""
        self._close_terminal()

    def kill(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        self._close_terminal()

    def _close_terminal(self):
        if self.master is not None:
            os.close(self.master)
            os.close(self.slave)
            self.master = self.slave = None
