"""The release zip of the package target, and its refusal to package the substitute image."""

import hashlib
import os
import subprocess
import tempfile
import unittest
import zipfile

UPDATER = os.environ.get("ARGB_WIN_UPDATER", "")
# Empty when the configuration refuses to package.
PACKAGE = os.environ.get("ARGB_WIN_PACKAGE", "")
IS_SUBSTITUTE = os.environ.get("ARGB_WIN_PACKAGE_IS_SUBSTITUTE") == "1"
LICENSE = os.environ.get("ARGB_WIN_LICENSE", "")
CPACK = os.environ.get("ARGB_WIN_CPACK", "cpack")
CPACK_CONFIG = os.environ.get("ARGB_WIN_CPACK_CONFIG", "")

VERSION = "0.0.1.3"
SUBSTITUTE_WARNING = "THIS PACKAGE CANNOT UPDATE A REAL CONTROLLER"


def read(path):
    with open(path, "rb") as file:
        return file.read()


class PackageTest(unittest.TestCase):
    def setUp(self):
        if not PACKAGE:
            self.skipTest("this configuration does not package the substitute image")
        if not os.path.exists(PACKAGE):
            self.fail(f"{PACKAGE} is missing: cmake --build --preset windows --target package")

    def test_name_tells_the_version_and_a_substitute_image(self):
        suffix = "-substitute-image" if IS_SUBSTITUTE else ""
        self.assertEqual(os.path.basename(PACKAGE), f"argb-fw-updater-{VERSION}-win64{suffix}.zip")

    def test_holds_the_program_its_guide_and_the_license(self):
        with zipfile.ZipFile(PACKAGE) as package:
            self.assertEqual(sorted(package.namelist()),
                             ["LICENSE", "README.txt", "argb-fw-updater.exe"])
            self.assertEqual(package.read("argb-fw-updater.exe"), read(UPDATER))
            self.assertEqual(package.read("LICENSE"), read(LICENSE))
            guide = package.read("README.txt").decode("ascii")
        # Windows line ends; a substitute says so before anything else.
        first_line = guide.split("\r\n", 1)[0]
        if IS_SUBSTITUTE:
            self.assertTrue(first_line.startswith(SUBSTITUTE_WARNING + ":"), first_line)
        else:
            self.assertEqual(first_line, f"Corvix ARGB FW updater {VERSION}")

    def test_checksums_beside_the_zip_in_sha256sum_form(self):
        sums = read(os.path.join(os.path.dirname(PACKAGE), "SHA256SUMS")).decode("ascii")
        digest = hashlib.sha256(read(PACKAGE)).hexdigest()
        self.assertEqual(sums, f"{digest}  {os.path.basename(PACKAGE)}\n")


class SubstituteRefusalTest(unittest.TestCase):
    def test_substitute_is_not_packaged_without_the_option(self):
        if not IS_SUBSTITUTE:
            self.skipTest("the build carries another image than the substitute")
        with tempfile.TemporaryDirectory() as output_dir:
            # The generated configuration with the option off, as a build configured without it.
            result = subprocess.run(
                [CPACK, "--config", CPACK_CONFIG, "-D", "CPACK_ARGB_ALLOW_SUBSTITUTE_PACKAGE=OFF",
                 "-B", output_dir], capture_output=True, text=True)
            self.assertNotEqual(result.returncode, 0, "cpack packaged the substitute")
            self.assertIn("-DARGB_FIRMWARE_IMAGE=", result.stderr)
            self.assertEqual(os.listdir(output_dir), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
