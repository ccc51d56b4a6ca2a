"""The ways of signing a release besides a PKCS#12 file: with a key generated inside a token
(SoftHSM2 through OpenSSL's PKCS#11 engine), and elsewhere, on the program of the program-to-sign
target brought back with ARGB_SIGNED_PROGRAM. The build's image is taken for the maker's."""

import os
import shutil
import struct
import subprocess
import tempfile
import unittest
from unittest import mock

from test_package import PACKAGE, REBUILD, package, program_in, read
from throwaway_pki import release_pki, serve_timestamps

MODULE = os.environ.get("ARGB_WIN_SOFTHSM2_MODULE", "")
BUILD = os.environ.get("ARGB_WIN_BUILD_DIR", "")
PIN = "246810"
KEY = "pkcs11:token=release;object=signer;type=private"
ACCEPTED = "The release is the rebuild, signed: "


def code_changed(program):
    """One byte of the first section's code changed."""
    data = bytearray(program)
    header = struct.unpack_from("<I", data, 0x3C)[0]
    sections = header + 24 + struct.unpack_from("<H", data, header + 20)[0]
    data[struct.unpack_from("<I", data, sections + 20)[0] + 100] ^= 1
    return bytes(data)


class SigningWaysTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not PACKAGE:
            raise unittest.SkipTest("this configuration does not package")
        cls.folder = tempfile.mkdtemp(prefix="argb-signing-ways-")
        cls.addClassCleanup(shutil.rmtree, cls.folder)
        pki = cls.pki = release_pki(cls.folder)
        config, pins = pki.path("softhsm2", ".conf"), pki.path("pins", ".txt")
        os.mkdir(pki.path("tokens", ""))
        for path, text in ((config, f"directories.tokendir = {pki.path('tokens', '')}\n"),
                           (pki.path("token", ".ext"), "keyUsage=critical,digitalSignature\n"
                                                       "extendedKeyUsage=codeSigning\n")):
            with open(path, "w", encoding="ascii") as file:
                file.write(text)
        cls.enterClassContext(mock.patch.dict(os.environ, {
            "SOFTHSM2_CONF": config, "ARGB_RELEASE_SIGNERS": pins,
            "ARGB_RELEASE_CAFILE": pki.path("trusted"),
            "ARGB_RELEASE_TIMESTAMP_CAFILE": pki.path("tsa-trusted")}))
        # The token's key pair is made inside it; the intermediate certifies its public half.
        tool = ["pkcs11-tool", "--module", MODULE, "--token-label", "release", "--login", "--pin",
                PIN]
        for command in (["softhsm2-util", "--init-token", "--free", "--label", "release",
                         "--so-pin", "13579", "--pin", PIN],
                        tool + ["--keypairgen", "--key-type", "rsa:2048", "--label", "signer"],
                        tool + ["--read-object", "--type", "pubkey", "--label", "signer", "-o",
                                pki.path("token", ".der")],
                        ["openssl", "pkey", "-pubin", "-inform", "DER", "-in",
                         pki.path("token", ".der"), "-out", pki.path("token", ".pub")],
                        ["openssl", "x509", "-new", "-subj", "/CN=Token signer", "-days", "2",
                         "-force_pubkey", pki.path("token", ".pub"), "-extfile",
                         pki.path("token", ".ext"), "-CA", pki.path("intermediate"), "-CAkey",
                         pki.path("intermediate", ".key"), "-out", pki.path("token")]):
            subprocess.run(command, check=True, capture_output=True)
        cls.objects = subprocess.run(tool + ["--list-objects"], capture_output=True,
                                     text=True).stdout
        pki.bundle("token-chain", "token", "intermediate")
        pki.bundle("signer-chain", "signer", "intermediate")
        with open(pins, "w", encoding="ascii") as file:
            file.write(f"{pki.fingerprint('signer')}\n{pki.fingerprint('token')}\n")
        result = subprocess.run(["cmake", "--build", BUILD, "--target", "program-to-sign"],
                                capture_output=True, text=True, check=True)
        cls.to_sign = os.path.join(BUILD, "to-sign", "argb-fw-updater.exe")
        cls.printed = result.stdout.splitlines()[-1]
        with serve_timestamps(pki) as url:
            cls.token = cls.sign_with_token(os.path.join(cls.folder, "token release"), PIN,
                                            SIGNING_TIMESTAMP_URL=url)
            cls.elsewhere = {name: cls.sign_elsewhere(signer, change, url) for name, signer, change
                             in (("signed", "signer", bytes), ("other", "other", bytes),
                                 ("changed", "signer", code_changed))}

    @classmethod
    def sign_with_token(cls, output_dir, pin, key=KEY, module=MODULE, certificates=None,
                        **settings):
        return package(output_dir, pin, SIGNING_KEY=key, SIGNING_PKCS11_MODULE=module,
                       SIGNING_CERTIFICATES=certificates or cls.pki.path("token-chain"),
                       IMAGE_IS_SUBSTITUTE="OFF", **settings)

    @classmethod
    def sign_elsewhere(cls, signer, change, url):
        """The program to sign, changed, signed by a separate osslsigncode run."""
        unsigned, signed = (os.path.join(cls.folder, f"{signer}-{change.__name__}{suffix}")
                            for suffix in (".in.exe", ".exe"))
        with open(unsigned, "wb") as file:
            file.write(change(read(cls.to_sign)))
        subprocess.run(["osslsigncode", "sign", "-pkcs12", cls.pki.path(signer, ".p12"), "-pass",
                        "right", "-h", "sha256", "-ts", url, "-in", unsigned, "-out", signed],
                       check=True, capture_output=True)
        return signed

    def test_both_ways_give_a_release_the_rebuild_check_accepts(self):
        self.assertEqual(self.printed, self.to_sign)
        self.assertIn("never extractable", self.objects)
        output_dir = os.path.join(self.folder, "elsewhere release")
        result = package(output_dir, SIGNED_PROGRAM=self.elsewhere["signed"],
                         IMAGE_IS_SUBSTITUTE="OFF")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(program_in(os.path.join(output_dir, os.path.basename(PACKAGE))),
                         read(self.elsewhere["signed"]))
        for release, signer in ((output_dir, "Throwaway signer"),
                                (os.path.join(self.folder, "token release"), "Token signer")):
            with self.subTest(signer):
                result = subprocess.run([REBUILD, release], capture_output=True, text=True)
                self.assertIn(ACCEPTED, result.stdout, result.stderr)
                self.assertIn(f"signed by /CN={signer} (SHA-256", result.stdout)

    def test_a_wrong_signature_or_token_leaves_no_package(self):
        self.assertEqual(self.token.returncode, 0, self.token.stderr)
        signed = "ARGB_SIGNED_PROGRAM={} "
        for case, make, expected in (
                ("code changed before signing", self.elsewhere["changed"],
                 signed + "is not the rebuilt program with its signature attached"),
                ("signer not pinned", self.elsewhere["other"],
                 signed + "is signed by /CN=Other trusted signer, SHA-256"),
                ("not signed", self.to_sign, signed + "is the program to sign itself"),
                ("wrong PIN", dict(pin="2468"), "the token refuses the PIN in ARGB_SIGNING_"),
                ("no PIN", dict(pin=""), "ARGB_SIGNING_PASSWORD holds no PIN"),
                ("key not in the token", dict(key=KEY.replace("=signer", "=gone")),
                 "the token holds no private key that ARGB_SIGNING_KEY names"),
                ("no such token", dict(key=KEY.replace("=release", "=gone")),
                 "no token that ARGB_SIGNING_KEY names is present"),
                ("certificates of another key", dict(certificates=self.pki.path("signer-chain")),
                 "the certificates of ARGB_SIGNING_CERTIFICATES="),
                ("module missing", dict(module=MODULE + ".gone"),
                 f"the module ARGB_SIGNING_PKCS11_MODULE={MODULE}.gone cannot be read")):
            with self.subTest(case):
                output_dir = os.path.join(self.folder, case)
                # Even the outputs of an earlier run are gone.
                shutil.copytree(os.path.join(self.folder, "token release"), output_dir,
                                ignore=shutil.ignore_patterns("_*"))
                if isinstance(make, dict):
                    result = self.sign_with_token(output_dir, **{"pin": PIN, **make})
                else:
                    result = package(output_dir, SIGNED_PROGRAM=make, IMAGE_IS_SUBSTITUTE="OFF")
                lines = [line for line in result.stderr.splitlines() if "Not packaging" in line]
                self.assertEqual(len(lines), 1, result.stderr)
                self.assertIn(expected.format(make), lines[0])
                self.assertEqual((result.returncode != 0, os.listdir(output_dir)),
                                 (True, ["_CPack_Packages"]))


if __name__ == "__main__":
    unittest.main(verbosity=2)
