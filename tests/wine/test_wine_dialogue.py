"""The Windows updater's whole dialogue under Wine, against the emulated driver in system32."""

import os
import unittest

from wine_harness import (BANNER, CLOSE_ITEM_PROBE, CLOSING_PROMPT, CONFIRMATION,
                          NEIGHBOUR_PROBE, RELAY_CALL, RELAY_RETURN, SYSTEM_CALLERS, UPDATER_NAME,
                          UpdaterTestCase, WinePrefix, WineRun, crlf, emulator_settings,
                          shared_prefix)

UPDATER = WinePrefix.windows_path("updater", UPDATER_NAME)
READ_AS_05 = BANNER + "Detected FW version:40.70.00.05\n"
UPDATE_STEPS = ("Initial FW update process.\nFW Erase\nPrepare CRC\nFlash FW\nCheck CRC\n"
                "Exit updater\n")
UPDATED = (READ_AS_05 + CONFIRMATION + "You pressed the 'y' key.\nContinuing...\n\n" +
           UPDATE_STEPS + "Update result:Success\n" + CLOSING_PROMPT)
ANOTHER_RUN = "Another update is running. Let it finish, then start this program again.\n"
EVENT_HOLDS_LOCK = ("Cannot take the lock that keeps to one update at a time "
                    "(Global\\argb-fw-updater: Invalid handle (error 6)).\n")
# Ten milliseconds a block: "Flash FW" lasts about a second, long enough to act during it.
SLOW_FLASH = {"PROGRAM_MS": 10}

# The calls whose order shows the write phase: the key reads, the guard's services, and the
# emulated driver's trace writes, one for each of its calls. The C runtimes' own registrations of
# control handlers at their start are left out.
TRACED_CALLS = ("_getch", "SetConsoleCtrlHandler", "SetThreadExecutionState", "SetConsoleMode",
                "SetProcessShutdownParameters", "ShutdownBlockReasonCreate",
                "ShutdownBlockReasonDestroy", "_write")
BLOCK_REASON = 'L"Firmware update in progress. Keep the computer on."'


def program_steps(relay_trace):
    """The traced calls of the program's main thread (the one reading keys), in order, with each
    series of driver calls as one step."""
    calls = RELAY_CALL.findall(relay_trace)
    main_thread = next(thread for thread, name, _ in calls if name == "_getch")
    steps = []
    for thread, name, arguments in calls:
        if thread != main_thread:
            continue
        if name == "_write":
            step = "driver calls"
        elif name == "SetConsoleCtrlHandler" and int(arguments.split(",")[0], 16):
            step = "SetConsoleCtrlHandler(handler," + arguments.split(",")[1] + ")"
        elif name == "SetConsoleMode":  # the console input's handle differs from run to run
            step = "SetConsoleMode(input," + arguments.split(",")[1] + ")"
        elif name.startswith("ShutdownBlockReason"):  # so do the window and the text's address
            step = name + "(window" + "".join(
                "," + text[text.index('L"'):] for text in arguments.split(",")[1:]) + ")"
        else:
            step = f"{name}({arguments})"
        if not steps or steps[-1] != step or step != "driver calls":
            steps.append(step)
    return steps


class WineDialogueTest(UpdaterTestCase):
    def setUp(self):
        super().setUp()
        self.new_device(self.id().rsplit(".", 1)[-1])

    def new_device(self, name):
        """An emulated controller fresh from the factory, kept in a state file between runs."""
        self.device = name
        state_file = os.path.join(self.prefix.work_dir, name + ".state")
        if os.path.exists(state_file):
            os.remove(state_file)

    def start(self, label="", env=None, from_shell=False, output_on_terminal=False, command=None,
              **settings):
        """`command`: a command line for cmd that runs the updater (from_shell)."""
        # Paths reach the emulator inside Wine, so they are given in Windows form.
        run_env = {"ARGB_EMU_STATE": WinePrefix.windows_path("work", self.device + ".state")}
        run_env.update(emulator_settings(**settings))
        run_env.update(env or {})
        run = WineRun(self.prefix, command or UPDATER, env=run_env, name=self.device + label,
                      from_shell=from_shell or command is not None,
                      output_on_terminal=output_on_terminal)
        # A run left waiting by a failed test would hold the lock against every later one.
        self.addCleanup(run.kill)
        return run

    def answer(self, key, label="", **settings):
        run = self.start(label, **settings)
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
        # Enter counts as an invalid answer and is echoed as the raw CR it reads as. 'ÿ' is 0xFF
        # in code page 1252, which Wine's C runtime hands on as -1: still one key, no ending.
        in_1252 = {"command": ["chcp", "1252", ">", "nul", "&", UPDATER],
                   "env": {"LANG": "C.UTF-8"}}  # the terminal's keys as Wine's console reads them
        for key, typed, verdict, code, settings in (
                ("n", "n", "Exiting...", 0, {}), ("q", "q", "Invalid input. Exiting...", 1, {}),
                ("\r", "\r", "Invalid input. Exiting...", 1, {}),
                ("\xff", "\xc3\xbf", "Invalid input. Exiting...", 1, in_1252),
                ("", "", "Invalid input. Exiting...", 1, {})):  # the terminal gone: -1 too, no key
            with self.subTest(key=key):
                run = self.answer(typed, label=f"-{ord(key or '-')}", **settings)
                if key:
                    run.type_key(" ", after=CLOSING_PROMPT)
                else:
                    run.hang_up()
                pressed = f"You pressed the '{key}' key.\n" if key else ""
                self.assertRun(run, READ_AS_05 + CONFIRMATION + pressed + f"{verdict}\n" +
                               CLOSING_PROMPT, code)

    def test_an_arrow_key_answers_with_its_first_code_only(self):
        # Windows reads a cursor key as 224 and then its scan code: the answer takes both, so the
        # closing prompt waits for a key of its own.
        run = self.answer("\x1b[A")
        self.assertTrue(run.still_running(after=CLOSING_PROMPT))
        run.type_key("k", after=CLOSING_PROMPT)
        self.assertRun(run, READ_AS_05 + CONFIRMATION + "You pressed the '\xe0' key.\n"
                       "Invalid input. Exiting...\n" + CLOSING_PROMPT, 1)

    def test_keys_typed_during_the_update_do_not_close_it(self):
        # Wine's console reads the terminal only from the first key read on, so a key typed
        # before the question still answers it there; from then on it holds typed keys as
        # Windows does, and the closing prompt drops them. With standard input redirected from a
        # file the keys are still read from the console, and dropped there.
        open(os.path.join(self.prefix.work_dir, "empty.txt"), "w").close()
        from_file = [UPDATER, "<", WinePrefix.windows_path("work", "empty.txt")]
        for label, command in (("", None), ("-redirected", from_file)):
            with self.subTest(standard_input=label or "console"):
                self.new_device(self.device + label)
                run = self.answer("y", command=command, **SLOW_FLASH)
                run.type_key("k", after="Flash FW\n")
                self.assertTrue(run.still_running(after=CLOSING_PROMPT))
                run.type_key("x", after=CLOSING_PROMPT)
                self.assertRun(run, UPDATED, 0)

    def test_controller_of_another_version_fails_the_gate(self):
        run = self.start(VERSION="41.70.00.09")
        run.type_key("x", after=CLOSING_PROMPT)
        self.assertRun(run, BANNER + "Detected FW version:41.70.00.09\n"
                       "Abnormal in FW version compare.\n" + CLOSING_PROMPT, 255)

    def test_no_version_reading_ends_without_a_key(self):
        run = self.start(NO_CONTROLLER=1)
        self.assertRun(run, BANNER + "Detected FW version....Cannot get MCU FW version.\n", 255)
        # Five queries of 100 ms and four pauses of 300 ms, plus Wine's start. Only a lower bound:
        # a busy machine lengthens the run, and pauses cut short are what this catches.
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

    def test_an_early_ending_waits_for_a_key_only_in_a_console_of_its_own(self):
        # Started from a Unix shell, the program is the only Windows process in the console Wine
        # makes for it, as in a window opened from Explorer; from cmd it shares cmd's console.
        # Output to a file never waits (every other test here).
        self.prefix.install_driver(None)
        ending = BANNER + "NvAPI initialization failed.\n"
        run = self.start(label="-own", output_on_terminal=True)
        self.assertTrue(run.still_running(after=CLOSING_PROMPT))
        run.type_key("k", after=CLOSING_PROMPT)
        self.assertRun(run, ending + CLOSING_PROMPT, 255)
        run = self.start(label="-cmd", output_on_terminal=True, from_shell=True)
        self.assertRun(run, ending, 255)

    def test_a_second_run_refuses_while_the_first_waits_for_its_answer(self):
        first = self.start(label="-first")
        self.assertTrue(first.still_running(after=CONFIRMATION))
        self.assertRun(self.start(label="-second"), BANNER + ANOTHER_RUN, 255)
        first.type_key("y", after=CONFIRMATION)
        first.type_key("k", after=CLOSING_PROMPT)
        self.assertRun(first, UPDATED, 0)

    def hold_lock_name(self, kind):
        """Another process that holds the lock's name as `kind` (see NeighbourProbe.cpp)."""
        holder = WineRun(self.prefix, [NEIGHBOUR_PROBE, "hold", kind], name="holder-" + kind)
        self.addCleanup(holder.kill)
        self.assertTrue(holder.still_running(after="holding\n", seconds=0))
        return holder

    def test_a_lock_name_taken_by_another_kind_of_object_or_by_other_rights(self):
        # An event of that name, which the mutex cannot be made over; a mutex that this run may
        # not open, as one made by a run with other rights: another update.
        for kind, ending in (("event", EVENT_HOLDS_LOCK), ("denied-mutex", ANOTHER_RUN)):
            with self.subTest(kind=kind):
                holder = self.hold_lock_name(kind)
                trace = os.path.join(self.prefix.work_dir, kind + ".jsonl")
                run = self.start(label="-" + kind,
                                 TRACE=WinePrefix.windows_path("work", kind + ".jsonl"))
                outcome = run.wait()
                holder.kill()
                self.assertEqual(outcome, (crlf(BANNER + ending), 255))
                self.assertFalse(os.path.exists(trace), "the refused run called the driver")

    def test_an_error_text_is_converted_to_the_consoles_code_page(self):
        # The system's reason for the error is converted to the page the console shows (Wine's
        # OEM page, as on Windows), not the system's (0), with no flag that a page may refuse.
        self.hold_lock_name("event")
        env = self.prefix.trace_calls(("GetConsoleOutputCP", "WideCharToMultiByte"),
                                      not_from=SYSTEM_CALLERS)
        run = self.start(env=env)
        self.assertRun(run, BANNER + EVENT_HOLDS_LOCK, 255)
        trace = run.errors()
        pages = [page for _, name, page in RELAY_RETURN.findall(trace)
                 if name == "GetConsoleOutputCP"]
        self.assertEqual(len(pages), 1)
        conversions = [tuple(arguments.split(",")[:2]) for _, name, arguments
                       in RELAY_CALL.findall(trace)
                       if name == "WideCharToMultiByte" and 'L"Invalid handle' in arguments]
        # One call for the length, one for the text.
        self.assertEqual(conversions, [(pages[0], "00000000")] * 2)

    def test_a_killed_run_leaves_its_lock_to_the_next(self):
        # A refused run in a console of its own keeps its message on screen, and with it a handle
        # to the lock: killing the owner then leaves the lock abandoned, not gone.
        first = self.start(label="-killed")
        self.assertTrue(first.still_running(after=CONFIRMATION))
        refused = self.start(label="-refused", output_on_terminal=True)
        self.assertTrue(refused.still_running(after=CLOSING_PROMPT))
        first.kill()
        run = self.answer("n")
        run.type_key("k", after=CLOSING_PROMPT)
        self.assertRun(run, READ_AS_05 + CONFIRMATION + "You pressed the 'n' key.\nExiting...\n" +
                       CLOSING_PROMPT, 0)
        refused.type_key("k", after=CLOSING_PROMPT)
        self.assertRun(refused, BANNER + ANOTHER_RUN + CLOSING_PROMPT, 255)

    def test_the_write_phase_is_guarded_from_the_answer_to_the_end_of_the_update(self):
        trace_file = os.path.join(self.prefix.work_dir, self.device + ".jsonl")
        env = self.prefix.trace_calls(TRACED_CALLS, not_from=SYSTEM_CALLERS)
        env["ARGB_EMU_TRACE"] = WinePrefix.windows_path("work", self.device + ".jsonl")
        # A fresh device each run, with no state file: its saves would be driver writes too.
        env["ARGB_EMU_STATE"] = ""
        for answer, steps in (
                ("n", ["driver calls", "_getch()", "_getch()"]),
                # QuickEdit (0x40) off, with the extended-flags bit (0x80), and Wine's mode back.
                ("y", ["driver calls", "_getch()", "SetConsoleCtrlHandler(handler,00000001)",
                       "SetThreadExecutionState(80000001)", "SetConsoleMode(input,000001b7)",
                       # Asked before the programs at the default level, 0x280, with no flags
                       # (SHUTDOWN_NORETRY would end the process without asking the user).
                       "SetProcessShutdownParameters(000003ff,00000000)",
                       "ShutdownBlockReasonCreate(window," + BLOCK_REASON + ")",
                       "driver calls", "SetThreadExecutionState(80000000)",
                       "SetConsoleMode(input,000001f7)", "ShutdownBlockReasonDestroy(window)",
                       "SetProcessShutdownParameters(00000280,00000000)", "_getch()"])):
            with self.subTest(answer=answer):
                if os.path.exists(trace_file):
                    os.remove(trace_file)
                run = self.start(label="-" + answer, env=env)
                run.type_key(answer, after=CONFIRMATION)
                run.type_key("k", after=CLOSING_PROMPT)
                run.wait()
                relay_trace = run.errors()
                self.assertEqual(program_steps(relay_trace), steps)
                # The driver's trace has one line per traced write, and its first frame line comes
                # after the writes made before the answer.
                with open(trace_file) as trace:
                    driver_calls = trace.read().splitlines()
                calls = [name for _, name, _ in RELAY_CALL.findall(relay_trace)
                         if name in ("_write", "_getch")]
                self.assertEqual(calls.count("_write"), len(driver_calls))
                frames = [i for i, line in enumerate(driver_calls) if '"frame":' in line]
                self.assertEqual(bool(frames), answer == "y")
                self.assertTrue(all(i >= calls.index("_getch") for i in frames))

    def test_the_session_may_end_except_while_the_update_runs(self):
        # wineboot asks every window; the run has one only from the 'Y' to the update's end.
        run = self.start(PROGRAM_MS=60)  # a flash of some 5 s, to ask during it
        self.assertTrue(run.still_running(after=CONFIRMATION, seconds=0))
        self.assertEqual(self.prefix.end_session(), 0)
        run.type_key("y", after=CONFIRMATION)
        self.assertTrue(run.still_running(after="Flash FW\n", seconds=0))
        self.assertEqual(self.prefix.end_session(), 1)
        # A close request to the program's windows keeps the hold.
        self.prefix.run_tool("taskkill", "/im", UPDATER_NAME)
        self.assertEqual(self.prefix.end_session(), 1)
        self.assertNotIn(crlf("Check CRC"), run.output(), "asked after the flash")
        self.assertTrue(run.still_running(after=CLOSING_PROMPT, seconds=0))
        self.assertEqual(self.prefix.end_session(), 0)
        run.type_key("k", after=CLOSING_PROMPT)
        self.assertRun(run, UPDATED, 0)

        self.new_device(self.device + "-n")
        run = self.answer("n")
        self.assertTrue(run.still_running(after=CLOSING_PROMPT, seconds=0))
        self.assertEqual(self.prefix.end_session(), 0)
        run.type_key("k", after=CLOSING_PROMPT)
        self.assertRun(run, READ_AS_05 + CONFIRMATION + "You pressed the 'n' key.\nExiting...\n" +
                       CLOSING_PROMPT, 0)

    def test_an_input_mode_saved_without_the_extended_flags_gets_the_users_defaults(self):
        # A program before this one left the extended-flags state off, so the console reports
        # neither QuickEdit nor Insert mode: they come back as HKCU\Console says (QuickEdit 0),
        # and on where it says nothing (InsertMode), with AutoPosition as every console starts.
        console_key = ("HKCU\\Console", "/v", "QuickEdit")
        self.prefix.run_tool("reg", "add", *console_key, "/t", "REG_DWORD", "/d", "0", "/f")
        self.addCleanup(self.prefix.run_tool, "reg", "delete", *console_key, "/f")
        env = self.prefix.trace_calls(("_getch", "SetConsoleMode"), not_from=SYSTEM_CALLERS)
        probe = "Z:" + NEIGHBOUR_PROBE.replace("/", "\\")
        run = WineRun(self.prefix, [probe, "console-mode", "7", "&", UPDATER], env=env,
                      name=self.device, from_shell=True)
        self.addCleanup(run.kill)
        run.type_key("y", after=CONFIRMATION)
        run.type_key("k", after=CLOSING_PROMPT)
        run.wait()
        self.assertEqual(program_steps(run.errors()), ["_getch()", "SetConsoleMode(input,00000087)",
                                                       "SetConsoleMode(input,000001a7)", "_getch()"])

    def test_ctrl_c_ends_a_run_only_before_the_update_is_confirmed(self):
        run = self.start(label="-asking", VERSION_BAD_READS=3)
        self.assertTrue(run.still_running(after=BANNER + "Detected FW version", seconds=0.2))
        run.interrupt()
        output, _ = run.wait()
        self.assertTrue(output.startswith(crlf(BANNER + "Detected FW version")), output)
        self.assertNotIn(crlf(CONFIRMATION), output)

        run = self.answer("y", **SLOW_FLASH)
        self.assertTrue(run.still_running(after="Flash FW\n", seconds=0.1))
        run.interrupt()
        run.type_key("k", after=CLOSING_PROMPT)
        self.assertRun(run, UPDATED, 0)


class CloseItemTest(unittest.TestCase):
    def test_the_write_phase_greys_the_close_item_and_gives_back_its_state(self):
        # Wine's console has no window: the probe hands the guard one of its own. Each line is
        # the item found enabled, greyed (1), disabled (2) or both: before, during and after the
        # write phase. 0x1000 (MF_DEFAULT) marks Close as the menu's default item.
        probe = "Z:" + CLOSE_ITEM_PROBE.replace("/", "\\")
        output, code = WineRun(shared_prefix(), probe, name="close-item-probe").wait()
        self.assertEqual((output, code), (crlf("1000 1001 1000\n1001 1001 1001\n"
                                               "1002 1001 1002\n1003 1001 1003\n"), 0))


if __name__ == "__main__":
    unittest.main(verbosity=2)
