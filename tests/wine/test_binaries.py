"""What the Windows build puts into its files: the version resource, the manifest, the imports."""

import os
import re
import struct
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree

UPDATER = os.environ.get("ARGB_WIN_UPDATER", "")
FIELD_CHECK = os.environ.get("ARGB_WIN_FIELD_CHECK", "")
EMULATED_DRIVER = os.environ.get("ARGB_WIN_EMULATED_DRIVER", "")
OBJDUMP = os.environ.get("ARGB_WIN_OBJDUMP", "x86_64-w64-mingw32-objdump")
WRESTOOL = os.environ.get("ARGB_WIN_WRESTOOL", "wrestool")

# PE DllCharacteristics that Windows' exploit mitigations read.
HARDENING_CHARACTERISTICS = {"HIGH_ENTROPY_VA": 0x20, "DYNAMIC_BASE": 0x40, "NX_COMPAT": 0x100}
RT_VERSION = 16
RT_MANIFEST = 24
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD

# Libraries that both Windows 7 and Windows 10 map from their KnownDLLs list, and so always take
# from the system directory: the elevated program may import only these, since Windows looks for
# any other beside the program first.
KNOWN_DLLS = {f"{name}.dll" for name in (
    "advapi32 clbcatq comdlg32 difxapi gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz nsi "
    "ole32 oleaut32 psapi rpcrt4 sechost setupapi shell32 shlwapi user32 wldap32 ws2_32").split()}
# Libraries that every Windows installation has; anything else would have to ship with the driver.
SYSTEM_LIBRARIES = KNOWN_DLLS | {"ucrtbase.dll", "winmm.dll"}
SYSTEM_LIBRARY_FAMILY = "api-ms-win-crt-"  # the universal C runtime's forwarders
# The operating system's own services that the updater is built on.
REQUIRED_IMPORTS = {
    "LoadLibraryExW", "FreeLibrary", "GetProcAddress", "GetSystemDirectoryW", "GetModuleFileNameA",
    "VerifyVersionInfoW", "VerSetConditionMask", "LocalAlloc", "LocalFree", "SetLastError",
    "InitializeCriticalSection", "EnterCriticalSection", "LeaveCriticalSection", "Sleep", "_getch",
    "CreateWaitableTimerExW", "SetWaitableTimer", "WaitForSingleObject", "_kbhit", "SetConsoleMode",
    "EnableMenuItem", "FormatMessageW"}


def resource(path, resource_type, name=None):
    """The raw bytes of one resource, read back with icoutils' wrestool."""
    command = [WRESTOOL, "--extract", "--raw", f"--type={resource_type}", path]
    if name is not None:
        command.insert(-1, f"--name={name}")
    return subprocess.run(command, check=True, capture_output=True).stdout


def align4(offset):
    return (offset + 3) & ~3


def parse_version_block(data, offset=0):
    """One VS_VERSIONINFO-style block: (key, value bytes, children); returns it and its end."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_start = key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[key_start:key_end].decode("utf-16-le")
    position = align4(key_end + 2)
    if value_type == 1 and value_length:
        # A text value runs to the end of its block, whatever unit its length was counted in.
        return (key, data[position:end], []), end
    value = data[position:position + value_length]
    position = align4(position + value_length)
    children = []
    while position < end:
        child, child_end = parse_version_block(data, position)
        children.append(child)
        position = align4(child_end)
    return (key, value, children), end


def version_strings(root):
    """Every name/text pair of the StringFileInfo tables."""
    strings = {}
    for key, _, tables in root[2]:
        if key != "StringFileInfo":
            continue
        for _, _, entries in tables:
            for name, value, _ in entries:
                strings[name] = value.decode("utf-16-le").rstrip("\0")
    return strings


def imports(path):
    """objdump's description of a PE file, and its imported function names per library."""
    dump = subprocess.run([OBJDUMP, "-p", path], check=True, capture_output=True, text=True).stdout
    libraries = {}
    for section in re.split(r"\n\s*DLL Name: ", dump)[1:]:
        name, _, table = section.partition("\n")
        # Table rows: hint-table entry, ordinal hint, function name.
        functions = re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\S+)$", table, re.MULTILINE)
        libraries[name.strip().lower()] = set(functions)
    return dump, libraries


class VersionResourceTest(unittest.TestCase):
    def setUp(self):
        self.root, _ = parse_version_block(resource(UPDATER, RT_VERSION))

    def test_fixed_file_and_product_version(self):
        key, fixed, _ = self.root
        self.assertEqual(key, "VS_VERSION_INFO")
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
        self.assertEqual(signature, FIXED_FILE_INFO_SIGNATURE)
        # 0.0.1.3: major and minor in the high words, build and revision in the low words.
        self.assertEqual((file_ms, file_ls), (0x00000000, 0x00010003))
        self.assertEqual((product_ms, product_ls), (0x00000000, 0x00010003))

    def test_version_texts(self):
        strings = version_strings(self.root)
        self.assertEqual(strings.get("FileVersion"), "0.0.1.3")
        self.assertEqual(strings.get("ProductVersion"), "0.0.1.3")


class ManifestTest(unittest.TestCase):
    def test_process_manifest_requires_administrator(self):
        # Windows reads the process manifest from resource 1 only.
        manifest = ElementTree.fromstring(resource(UPDATER, RT_MANIFEST, name=1))
        levels = [e for e in manifest.iter() if e.tag.endswith("}requestedExecutionLevel")]
        self.assertEqual(len(levels), 1)
        self.assertEqual(levels[0].get("level"), "requireAdministrator")
        self.assertEqual(levels[0].get("uiAccess"), "false")


class ImportsTest(unittest.TestCase):
    def test_only_system_libraries_are_imported(self):
        # The compiler's runtime DLLs are not on a user's machine: the C and C++ runtimes are linked
        # in.
        for path, allowed in ((UPDATER, lambda name: name in KNOWN_DLLS),
                              (FIELD_CHECK, lambda name: name in KNOWN_DLLS),
                              (EMULATED_DRIVER, lambda name: name in SYSTEM_LIBRARIES or
                               name.startswith(SYSTEM_LIBRARY_FAMILY))):
            with self.subTest(file=os.path.basename(path)):
                dump, libraries = imports(path)
                self.assertIn("file format pei-x86-64", dump)
                self.assertIn("kernel32.dll", libraries)
                self.assertEqual({name for name in libraries if not allowed(name)}, set(),
                                 "imported from outside the allowed libraries")

    def test_updater_uses_the_real_system_services(self):
        _, libraries = imports(UPDATER)
        imported = set().union(*libraries.values())
        self.assertEqual(REQUIRED_IMPORTS - imported, set())


class HardeningTest(unittest.TestCase):
    def test_the_program_is_hardened_as_windows_expects(self):
        dump, libraries = imports(UPDATER)
        characteristics = int(re.search(r"^DllCharacteristics\s+([0-9a-f]+)$", dump, re.M)[1], 16)
        for name, bit in HARDENING_CHARACTERISTICS.items():
            self.assertTrue(characteristics & bit, f"{name} is not set")
        # Only functions built with the stack protector refer to its guard, which the program's
        # own runtime seeds: the compiler's would import the crypto API to seed it before main.
        symbols = subprocess.run([OBJDUMP, "-t", UPDATER], check=True, capture_output=True,
                                 text=True).stdout
        self.assertRegex(symbols, r"\s__stack_chk_guard\n", "no function has a stack guard")
        self.assertNotIn("CryptGenRandom", set().union(*libraries.values()))


if __name__ == "__main__":
    unittest.main(verbosity=2)
