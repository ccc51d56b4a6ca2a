"""Releases signed with a key made inside a SoftHSM2 token, and elsewhere on the programs of the
program-to-sign target (ARGB_SIGNED_PROGRAM, ARGB_SIGNED_FIELD_CHECK); the build's image is taken
for the maker's."""

import os
import subprocess
import tempfile
import unittest
from unittest import mock

from test_package import FIELD_CHECK_ZIP, PACKAGE, REBUILD, SOURCE, osslsigncode, package, read
from throwaway_pki import release_pki, serve_timestamps

MODULE = os.environ.get("ARGB_WIN_SOFTHSM2_MODULE", "")
BUILD = os.environ.get("ARGB_WIN_BUILD_DIR", "")
PACKAGE_NAME = os.path.basename(PACKAGE)
TO_SIGN, TO_SIGN_CHECK = (os.path.join(BUILD, "to-sign", name)
                          for name in ("argb-fw-updater.exe", "argb-field-check.exe"))
KEY, PIN = "pkcs11:token=release;object=signer;type=private", "2468"
# A PIN planted in the key's URI each way a URI can hold one: it must show nowhere.
PLANTED = "97531"
PIN_URIS = (f"pkcs11:pin-value={PLANTED};token=release", f"{KEY}?pin-value={PLANTED}",
            f"pkcs11:token=r;PIN-VALUE={PLANTED};object=s", f"{KEY}?%70in-%76alue={PLANTED}",
            f"{KEY}?pin-source=file:/{PLANTED}")


class SigningWaysTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not PACKAGE:
            raise unittest.SkipTest("this configuration does not package")
        folder = cls.folder = cls.enterClassContext(tempfile.TemporaryDirectory(prefix="argb-"))
        pki, path = release_pki(folder), lambda name: os.path.join(folder, name)
        # SoftHSM2 takes every folder in its own as a token's.
        os.mkdir(path("tokens"))
        with open(path("softhsm2.conf"), "w", encoding="ascii") as file:
            file.write(f"directories.tokendir = {path('tokens')}\n")
        cls.enterClassContext(mock.patch.dict(
            os.environ, SOFTHSM2_CONF=path("softhsm2.conf"), ARGB_RELEASE_SIGNERS=path("pins"),
            ARGB_RELEASE_CAFILE=pki.path("trusted"),
            ARGB_RELEASE_TIMESTAMP_CAFILE=pki.path("tsa-trusted")))
        # The key pair is made inside the token (sensitive, never extractable), its public half
        # certified by the intermediate with the extensions on standard input.
        tool = ["pkcs11-tool", "--module", MODULE, "--token-label", "release", "--login", "--pin",
                PIN, "--label", "signer"]
        cls.outputs = [subprocess.run(command, check=True, capture_output=True, text=True, input=(
            "keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")).stdout
            for command in (["softhsm2-util", "--init-token", "--free", "--label", "release",
                             "--so-pin", "13579", "--pin", PIN],
                            tool + ["--keypairgen", "--key-type", "rsa:2048"],
                            tool + ["--read-object", "--type", "pubkey", "-o", path("key.der")],
                            *[tool[:-1] + ["twice", "--id", key_id, "--keypairgen", "--key-type",
                                           "ec:prime256v1"] for key_id in ("0a", "0b")],
                            ["openssl", "x509", "-new", "-subj", "/CN=Token signer", "-days", "2",
                             "-force_pubkey", path("key.der"), "-extfile", "/dev/stdin", "-CA",
                             pki.path("intermediate"), "-CAkey", pki.path("intermediate", ".key"),
                             "-out", pki.path("token")],
                            ["cmake", "--build", BUILD, "--target", "program-to-sign"])]
        with open(path("pins"), "w", encoding="ascii") as file:
            file.write(f"{pki.fingerprint('signer')}\n{pki.fingerprint('token')}\n")
        cls.token_way = dict(SIGNING_KEY=KEY, SIGNING_PKCS11_MODULE=MODULE,
                             SIGNING_CERTIFICATES=pki.bundle("chain", "token", "intermediate"))
        # The package step's command lines, written down: no PIN may show there.
        cls.commands, cls.recorded = path("commands"), dict(PYTHON=os.path.join(os.path.dirname(
            os.path.abspath(__file__)), "recorded_python.py"))
        cls.enterClassContext(mock.patch.dict(os.environ, ARGB_TEST_COMMANDS=cls.commands))
        # An authority configured the common OpenSSL way: its own certificate in its chain file.
        cls.twice = cls.enterClassContext(serve_timestamps(pki, ("tsa", "tsa-intermediate")))
        with serve_timestamps(pki) as url:
            # Its tokens carry the authority's certificate twice, each the issuer's own bytes.
            cls.token = package(path("token release"), PIN, SIGNING_TIMESTAMP_URL=cls.twice,
                                IMAGE_IS_SUBSTITUTE="OFF", **cls.token_way)
            # Signed elsewhere: the programs to sign, and the same with a byte of .text changed.
            for name, signer, flip, to_sign in (
                    ("signed", "signer", 0, TO_SIGN), ("other", "other", 0, TO_SIGN),
                    ("changed", "signer", 1, TO_SIGN), ("check", "signer", 0, TO_SIGN_CHECK),
                    ("check changed", "signer", 1, TO_SIGN_CHECK)):
                program = bytearray(read(to_sign))
                program[0x1000] ^= flip
                with open(path(name), "wb") as file:
                    file.write(osslsigncode("sign", "-pkcs12", pki.path(signer, ".p12"), "-pass",
                                            "right", "-h", "sha256", "-ts", url)(program))

    def test_both_ways_give_releases_that_the_rebuild_check_accepts(self):
        self.assertEqual(self.outputs[-1].splitlines()[-2:], [TO_SIGN, TO_SIGN_CHECK])
        elsewhere = os.path.join(self.folder, "elsewhere")
        result = package(elsewhere, SIGNED_PROGRAM=os.path.join(self.folder, "signed"),
                         SIGNED_FIELD_CHECK=os.path.join(self.folder, "check"),
                         IMAGE_IS_SUBSTITUTE="OFF")
        self.assertEqual(result.returncode, 0, result.stderr)
        for signer, release in (("Throwaway signer", elsewhere),
                                ("Token signer", os.path.join(self.folder, "token release"))):
            result = subprocess.run([REBUILD, release], capture_output=True, text=True)
            self.assertRegex(result.stdout, f"^The release is the rebuild, signed: "
                                            f"{FIELD_CHECK_ZIP} and {PACKAGE_NAME}, each signed by "
                                            f"/CN={signer} \\(SHA-256 \\w+\\), time-stamped\n",
                             result.stderr)

    def test_a_refused_signature_or_token_leaves_no_package(self):
        self.assertEqual(self.token.returncode, 0, self.token.stderr)
        token, (other_key, other, changed, signed, check, check_changed, other_p12) = (
            self.token_way, (os.path.join(self.folder, name) for name in (
                "signer.pem", "other", "changed", "signed", "check", "check changed", "other.p12")))
        for case, pin, way, expected in (
                ("code changed", "", dict(SIGNED_PROGRAM=changed, SIGNED_FIELD_CHECK=check),
                 "is not the rebuilt program with its signature attached"),
                ("not pinned", "", dict(SIGNED_PROGRAM=other, SIGNED_FIELD_CHECK=check),
                 "by /CN=Other trusted signer, SHA"),
                ("unsigned", "", dict(SIGNED_PROGRAM=TO_SIGN, SIGNED_FIELD_CHECK=check),
                 "is the program to sign itself"),
                ("field check code changed", "", dict(SIGNED_PROGRAM=signed,
                                                      SIGNED_FIELD_CHECK=check_changed),
                 f"ARGB_SIGNED_FIELD_CHECK={check_changed} is not the rebuilt program with"),
                ("the updater as the field check", "", dict(SIGNED_PROGRAM=signed,
                                                            SIGNED_FIELD_CHECK=signed),
                 f"ARGB_SIGNED_FIELD_CHECK={signed} is not the rebuilt program with"),
                ("signed here, not pinned", "right", dict(SIGNING_PKCS12=other_p12),
                 "does not pin: pin it in package/release-signers.txt in a commit before the "
                 "release's"),
                ("wrong PIN", "1357", token, "the token refuses the PIN in ARGB_SIGNING_PASSWORD"),
                ("no such token", PIN, dict(token, SIGNING_KEY=KEY.replace("=rel", "=x")),
                 "no token that ARGB_SIGNING_KEY names is present"),
                ("another key's certificate", PIN, dict(token, SIGNING_CERTIFICATES=other_key),
                 f"ARGB_SIGNING_CERTIFICATES={other_key} are not the key's"),
                ("two keys under one label", PIN, dict(token, SIGNING_KEY=KEY.replace(
                    "signer", "twice")), "ARGB_SIGNING_KEY names 2 keys of the token: add the id="),
                *[(f"PIN {way}", PIN, dict(token, SIGNING_KEY=uri), "ARGB_SIGNING_KEY holds a PIN")
                  for way, uri in enumerate(PIN_URIS)]):
            with self.subTest(case):
                output_dir = os.path.join(self.folder, case)
                result = package(output_dir, pin, IMAGE_IS_SUBSTITUTE="OFF", **self.recorded, **way)
                lines = [line for line in result.stderr.splitlines() if "Not packaging" in line]
                told = result.stdout + result.stderr + read(self.commands).decode()
                self.assertEqual((len(lines), expected in "".join(lines), os.listdir(output_dir),
                                  PLANTED in told), (1, True, ["_CPack_Packages"], False),
                                 result.stderr)

    def test_a_pin_in_the_key_is_refused_at_configure_and_left_in_no_file(self):
        build = os.path.join(self.folder, "configured")
        configure = ["cmake", "-S", SOURCE, "-B", build, "-G", "Ninja", "--toolchain",
                     os.path.join(SOURCE, "cmake", "toolchain-x86_64-w64-mingw32.cmake")]
        subprocess.run(configure, check=True, capture_output=True)
        for uri in PIN_URIS:
            with self.subTest(uri):
                # As a configure that let the PIN pass wrote them.
                for name in ("CPackConfig.cmake", "CPackSourceConfig.cmake"):
                    with open(os.path.join(build, name), "a", encoding="ascii") as file:
                        file.write(f'set(CPACK_ARGB_SIGNING_KEY "{uri}")\n')
                result = subprocess.run(configure + [f"-DARGB_SIGNING_KEY={uri}"],
                                        capture_output=True, text=True)
                holding = subprocess.run(["grep", "-rl", PLANTED, build], capture_output=True,
                                         text=True).stdout
                self.assertEqual((result.returncode != 0, result.stderr.count("holds a PIN"),
                                  PLANTED in result.stdout + result.stderr, holding),
                                 (True, 1, False, ""), result.stderr)

