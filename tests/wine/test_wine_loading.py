"""Where the Windows updater takes the driver library from, on both generations of Windows.

A driver library planted beside the program, in the current directory and on the search path
must never be loaded: only the one in system32 counts. The planted one reports 66.66.66.66.
"""

import os
import re
import shutil
import unittest

from wine_harness import (BANNER, CLOSING_PROMPT, CONFIRMATION, DLL_OVERRIDES, DRIVER_NAME,
                          EMULATED_DRIVER, PLANTED_DRIVER, PLANTED_HELPER, PLANTED_WINMM,
                          SEARCH_PROBE, SYSTEM_CALLERS, UPDATER_NAME, WINMM_FALLBACK_PROBE,
                          WinePrefix, WineRun, crlf, shared_prefix, traced_calls)

UPDATER = WinePrefix.windows_path("updater", UPDATER_NAME)
SYSTEM32 = "C:\\windows\\system32\\"
# Loaded explicitly by the updater, in this order: six system libraries, then the driver.
EXPLICIT_LOADS = ["msasn1.dll", "cryptnet.dll", "drvstore.dll", "devobj.dll", "wldp.dll",
                  "cryptbase.dll", DRIVER_NAME]
GENERATIONS = ("win10", "win7")

# Wine's module trace names each library it is asked for and the directories it will search.
WIDE_STRING = r'L"((?:[^"\\]|\\.)*)"'
LOAD_TRACE = re.compile(
    r"load_dll looking for " + WIDE_STRING + r" in (?:" + WIDE_STRING + r"|\(null\))")


def loaded_mark(library):
    """The file a planted library leaves beside itself when it is loaded."""
    return library[:-len(".dll")] + "-loaded.txt"


def unescape(text):
    return (text or "").replace("\\\\", "\\")


def explicit_loads(trace):
    """(name as asked for, search path) of the first request for each explicitly loaded library."""
    loads = {}
    for match in LOAD_TRACE.finditer(trace):
        name, search_path = unescape(match.group(1)), unescape(match.group(2))
        base = name.rsplit("\\", 1)[-1].lower()
        if base in EXPLICIT_LOADS and base not in loads:
            loads[base] = (name, search_path)
    return loads


class PlantedDriverTest(unittest.TestCase):
    def setUp(self):
        self.prefix = shared_prefix()
        self.prefix.install_driver(EMULATED_DRIVER)
        drive_c = self.prefix.drive_c
        self.cwd = os.path.join(drive_c, "planted-cwd")
        self.path_dir = os.path.join(drive_c, "planted-path")
        self.probe_dir = os.path.join(drive_c, "probe")
        for directory in (self.cwd, self.path_dir, self.probe_dir):
            os.makedirs(directory, exist_ok=True)
        self.places = {
            "beside the program": self.prefix.updater_dir,
            "current directory": self.cwd,
            "search path": self.path_dir,
        }
        # Wine adds WINEPATH to the Windows search path.
        self.env = {"WINEPATH": WinePrefix.windows_path("planted-path")}

    def tearDown(self):
        for directory in self.places.values():
            self.remove(os.path.join(directory, DRIVER_NAME))
        self.remove(os.path.join(self.prefix.updater_dir, "search-probe.exe"))

    @staticmethod
    def remove(path):
        if os.path.exists(path):
            os.remove(path)

    def plant(self, *places):
        for place in places or self.places:
            shutil.copy(PLANTED_DRIVER, os.path.join(self.places[place], DRIVER_NAME))

    def start_updater(self, **env):
        return WineRun(self.prefix, UPDATER, cwd=self.cwd, env=dict(self.env, **env),
                       name="planted-" + self.prefix.version)

    def test_planted_copies_are_reachable_by_the_ordinary_search(self):
        # Shows that the planting below is real: a program that loads the bare name the ordinary
        # way finds each planted copy.
        self.prefix.set_windows_version("win10")
        self.prefix.install_driver(None)
        shutil.copy(SEARCH_PROBE, os.path.join(self.prefix.updater_dir, "search-probe.exe"))
        shutil.copy(SEARCH_PROBE, os.path.join(self.probe_dir, "search-probe.exe"))
        for place, probe_dir, found in (
                ("beside the program", "updater", "C:\\updater\\nvapi64.dll"),
                ("current directory", "probe", "C:\\planted-cwd\\nvapi64.dll"),
                ("search path", "probe", "C:\\planted-path\\nvapi64.dll")):
            with self.subTest(place=place):
                self.plant(place)
                probe = WinePrefix.windows_path(probe_dir, "search-probe.exe")
                output, code = WineRun(self.prefix, probe, cwd=self.cwd, env=self.env,
                                       name="probe").wait()
                self.remove(os.path.join(self.places[place], DRIVER_NAME))
                self.assertEqual((output.strip().lower(), code), (found.lower(), 0))

    def test_system32_driver_is_loaded_in_the_form_of_each_generation(self):
        self.plant()
        for version in GENERATIONS:
            with self.subTest(version=version):
                self.prefix.set_windows_version(version)
                run = self.start_updater(WINEDEBUG="+module")
                run.type_key("n", after=CONFIRMATION)
                run.type_key("x", after=CLOSING_PROMPT)
                output, code = run.wait()
                self.assertEqual(output, crlf(BANNER + "Detected FW version:40.70.00.05\n" +
                                              CONFIRMATION + "You pressed the 'n' key.\n"
                                              "Exiting...\n" + CLOSING_PROMPT))
                self.assertEqual(code, 0)

                loads = explicit_loads(run.errors())
                if not loads:
                    self.skipTest("this Wine build does not trace module loads")
                self.assertEqual(list(loads), EXPLICIT_LOADS)
                # Wine looks for a library's imports along the search path of its load, so that
                # path decides where a planted import would be picked up.
                for base, (name, search_path) in loads.items():
                    if version == "win10":
                        # The bare name, searched for in the system directory only (flag 0x800).
                        self.assertEqual((name, search_path), (base, SYSTEM32))
                    else:
                        # The full path with the altered search order (flag 0x8): the library's
                        # own directory first, and the program's directory not at all.
                        self.assertEqual(name.lower(), SYSTEM32.lower() + base)
                        directories = search_path.lower().split(";")
                        self.assertEqual(directories[0], SYSTEM32.lower().rstrip("\\"))
                        self.assertNotIn("c:\\updater", directories)

    def test_a_system_library_planted_beside_the_program_is_never_loaded(self):
        # Wine told to prefer a native winmm.dll, as Windows prefers the program's folder for any
        # library outside its KnownDLLs: a program that imported it would run the planted copy.
        self.prefix.set_windows_version("win10")
        planted = os.path.join(self.prefix.updater_dir, "winmm.dll")
        marker = os.path.join(self.prefix.updater_dir, "winmm-loaded.txt")
        shutil.copy(PLANTED_WINMM, planted)
        self.addCleanup(lambda: [self.remove(path) for path in (planted, marker)])
        run = self.start_updater(WINEDLLOVERRIDES=DLL_OVERRIDES + ";winmm=n,b")
        run.type_key("y", after=CONFIRMATION)
        run.type_key("x", after=CLOSING_PROMPT)
        output, code = run.wait()
        self.assertIn(crlf("Update result:Success\n"), output)
        self.assertEqual((code, os.path.exists(marker)), (0, False))

    def test_a_library_that_the_driver_loads_by_name_comes_from_system32_only(self):
        # The driver loads it by its bare name at its initialise; a planted copy would run elevated.
        helper = os.path.basename(PLANTED_HELPER)
        places = (self.prefix.updater_dir, self.cwd, self.prefix.system32)
        copies = [os.path.join(place, helper) for place in places]
        marks = [loaded_mark(path) for path in copies]
        self.addCleanup(lambda: [self.remove(path) for path in copies + marks])
        # Alone, the copy in the current directory would be found after the system directories.
        for version, planted, loaded in (("win10", copies, copies[2]), ("win7", copies, copies[2]),
                                         ("win10", copies[1:2], None), ("win7", copies[1:2], None)):
            with self.subTest(version=version, system32_copy=loaded is not None):
                for path in copies + marks:
                    self.remove(path)
                for path in planted:
                    shutil.copy(PLANTED_HELPER, path)
                self.prefix.set_windows_version(version)
                run = self.start_updater(ARGB_EMU_LOAD_BY_NAME=helper)
                run.type_key("y", after=CONFIRMATION)
                run.type_key("x", after=CLOSING_PROMPT)
                output, code = run.wait()
                self.assertIn(crlf("Update result:Success\n"), output)
                marked = [path for path, mark in zip(copies, marks) if os.path.exists(mark)]
                self.assertEqual((code, marked), (0, [loaded] if loaded else []))

    def test_the_timer_fallback_takes_winmm_from_system32(self):
        # The updater's services as the updater wires them, in a probe whose high-resolution timer
        # is refused, with a planted winmm.dll beside it and Wine told to prefer native copies.
        # Wine's timeEndPeriod(1) succeeds without a begin, so only the calls show the period
        # raised around the pauses and given back after them.
        probe_dir = os.path.join(self.prefix.drive_c, "winmm-probe")
        os.makedirs(probe_dir, exist_ok=True)
        shutil.copy(WINMM_FALLBACK_PROBE, os.path.join(probe_dir, "probe.exe"))
        shutil.copy(PLANTED_WINMM, os.path.join(probe_dir, "winmm.dll"))
        planted_marker = loaded_mark(os.path.join(probe_dir, "winmm.dll"))
        probe = WinePrefix.windows_path("winmm-probe", "probe.exe")
        period_calls = ("timeBeginPeriod", "timeEndPeriod", "Sleep")
        env = self.prefix.trace_calls(period_calls, not_from=SYSTEM_CALLERS)
        env["WINEDLLOVERRIDES"] = DLL_OVERRIDES + ";winmm=n,b"
        for version in GENERATIONS:
            with self.subTest(version=version):
                self.prefix.set_windows_version(version)
                self.remove(planted_marker)
                run = WineRun(self.prefix, probe, cwd=probe_dir, env=env, name="winmm-probe")
                output, code = run.wait()
                self.assertEqual((output.lower(), code, os.path.exists(planted_marker)),
                                 (crlf(SYSTEM32 + "winmm.dll\n").lower(), 0, False))
                self.assertEqual(traced_calls(run.errors(), period_calls),
                                 ["timeBeginPeriod(00000001)"] + ["Sleep(00000001)"] * 3 +
                                 ["timeEndPeriod(00000001)"])

    def test_without_set_default_dll_directories_the_current_directory_leaves_the_search(self):
        # The program's own search setting, in a probe that finds no SetDefaultDllDirectories, as
        # on Windows 7 without KB2533623: there SetDllDirectoryW takes the current directory out
        # of the search with an empty text and puts it back with a null one. Wine searches the
        # current directory after either, so its call trace, not a planted copy, shows which.
        shutil.copy(SEARCH_PROBE, os.path.join(self.probe_dir, "search-probe.exe"))
        functions = ("SetDefaultDllDirectories", "SetDllDirectoryW")
        env = dict(self.env, **self.prefix.trace_calls(functions, not_from=SYSTEM_CALLERS))
        run = WineRun(self.prefix, [WinePrefix.windows_path("probe", "search-probe.exe"),
                                    "restricted"], cwd=self.cwd, env=env, name="probe-restricted")
        output, _ = run.wait()
        self.assertTrue(output.startswith(crlf(
            "system directory only: no, current directory removed: yes\n")), output)
        self.assertEqual([re.sub(r"\(\w+ ", "(", call) for call in
                          traced_calls(run.errors(), functions)], ['SetDllDirectoryW(L"")'])

    def test_without_a_system32_driver_none_is_loaded(self):
        self.plant()
        self.prefix.install_driver(None)
        for version in GENERATIONS:
            with self.subTest(version=version):
                self.prefix.set_windows_version(version)
                output, code = self.start_updater().wait()
                self.assertEqual(output, crlf(BANNER + "NvAPI initialization failed.\n"))
                self.assertEqual(code, 255)


if __name__ == "__main__":
    unittest.main(verbosity=2)
