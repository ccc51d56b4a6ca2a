"""A throwaway PKI shaped like the one a real release meets: a root that only the user's CA file
holds, an intermediate that the signature carries, code-signing leaves under it; a time-stamp
authority under a root and an intermediate of its own, served by openssl ts on 127.0.0.1."""

import contextlib
import datetime
import functools
import hashlib
import http.server
import os
import shutil
import socket
import subprocess
import threading
import time

from asn1crypto import cms, core, x509
from asn1crypto.pem import armor, unarmor
from cryptography import x509 as keys
from cryptography.hazmat.primitives import hashes, serialization

CODE_SIGNING = ["-addext", "keyUsage=critical,digitalSignature",
                "-addext", "extendedKeyUsage=codeSigning"]
AUTHORITY = ["-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign"]
TIME_STAMPING = ["-addext", "keyUsage=critical,digitalSignature",
                 "-addext", "extendedKeyUsage=critical,timeStamping"]
NOW = datetime.datetime.now(datetime.timezone.utc)


def listed_at(url):
    return ["-addext", f"crlDistributionPoints=URI:{url}"]


def read(path):
    with open(path, "rb") as file:
        return file.read()


class Pki:
    """Keys and certificates in `folder`: <name>.key, <name>.pem and, for leaves, <name>.p12 (the
    leaf, its key and the intermediates above it, password "right")."""

    def __init__(self, folder):
        self.folder = folder

    def path(self, name, suffix=".pem"):
        return os.path.join(self.folder, name + suffix)

    def issue(self, name, subject, issuer=None, options=(), chain=()):
        """A certificate of the name's RSA key (new at its first), signed by `issuer` (self-signed
        without one); a leaf gets a PKCS#12 file with the certificates of `chain`."""
        key, pem = self.path(name, ".key"), self.path(name)
        openssl = ["openssl", "req", "-new", "-days", "2", "-subj", f"/CN={subject}", "-out", pem,
                   *(["-key", key] if os.path.exists(key) else
                     ["-newkey", "rsa:2048", "-nodes", "-keyout", key]), *options]
        if issuer:
            openssl += ["-CA", self.path(issuer), "-CAkey", self.path(issuer, ".key")]
        else:
            openssl.append("-x509")
        subprocess.run(openssl, check=True, capture_output=True)
        if chain:
            with open(self.path(name, ".chain"), "wb") as file:
                file.write(b"".join(read(self.path(member)) for member in chain))
            subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", pem,
                            "-certfile", self.path(name, ".chain"), "-out",
                            self.path(name, ".p12"), "-passout", "pass:right"],
                           check=True, capture_output=True)
        return pem

    def bundle(self, name, *members):
        """A PEM file of the members' certificates, as a CA file."""
        path = self.path(name)
        with open(path, "wb") as file:
            file.write(b"".join(read(self.path(member)) for member in members))
        return path

    def certificate(self, name):
        return x509.Certificate.load(unarmor(read(self.path(name)))[2])

    def choice(self, name):
        """The certificate as a SignedData's certificate set holds it."""
        return cms.CertificateChoices({"certificate": self.certificate(name)})

    def fingerprint(self, name):
        return hashlib.sha256(self.certificate(name).dump()).hexdigest()

    def revocation_list(self, issuer, revoked=(), file=None, signer=None, hours=(-1, 48),
                        scope=None):
        """The issuer's list of the (name, time[, time its key was compromised]) revoked, signed
        by `signer`'s key (the issuer's), from and to `hours` from now, of the distribution point
        `scope` alone, in <file or issuer>.crl (DER); returns its PEM."""
        crl = keys.CertificateRevocationListBuilder().issuer_name(keys.load_pem_x509_certificate(
            read(self.path(issuer))).subject).last_update(NOW + datetime.timedelta(hours=hours[0]))
        for name, when, *compromised in revoked:
            entry = keys.RevokedCertificateBuilder().serial_number(
                self.certificate(name).serial_number).revocation_date(when)
            for value in compromised and [keys.CRLReason(keys.ReasonFlags.key_compromise),
                                          keys.InvalidityDate(compromised[0])]:
                entry = entry.add_extension(value, False)
            crl = crl.add_revoked_certificate(entry.build())
        if scope:
            crl = crl.add_extension(keys.IssuingDistributionPoint(
                [keys.UniformResourceIdentifier(scope)], None, False, False, None, False, False),
                True)
        crl = crl.next_update(NOW + datetime.timedelta(hours=hours[1]))
        crl = crl.sign(serialization.load_pem_private_key(read(self.path(signer or issuer, ".key")),
                                                          None), hashes.SHA256())
        with open(self.path(file or issuer, ".crl"), "wb") as file:
            file.write(crl.public_bytes(serialization.Encoding.DER))
        return crl.public_bytes(serialization.Encoding.PEM)


class Lists(http.server.SimpleHTTPRequestHandler):
    """The folder's files; under /slow/ each 2 s late, under /moved/ by a redirect, and at
    /endless.crl zeros without end, 16 MiB a second."""
    def do_GET(self):
        # A check that gave up on an answer has closed its connection: nothing to tell.
        with contextlib.suppress(OSError):
            if not self.path.startswith("/moved/") and self.path != "/endless.crl":
                time.sleep(2 * self.path.startswith("/slow/"))
                self.path = self.path.removeprefix("/slow")
                return super().do_GET()
            self.send_response(302 if self.path != "/endless.crl" else 200)
            self.send_header("Location", self.path.removeprefix("/moved"))
            self.end_headers()
            while self.path == "/endless.crl" and not time.sleep(0.0625):
                self.wfile.write(bytes(1 << 20))

    def log_message(self, *_):
        pass


def serve_folder(folder):
    """The folder's files over http on 127.0.0.1 (see Lists), and a server whose connections the
    kernel takes and nothing ever answers, both for the life of the process."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(
        Lists, directory=folder))
    server.silent = socket.create_server(("127.0.0.1", 0))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f"http://127.0.0.1:{server.server_port}", server.silent


def release_pki(folder):
    """The PKI of the signing tests: "signer" (pinned by the tests) and "other" under the code
    intermediate; "twin" with the signer's serial under an intermediate whose name is the first
    one's in capitals (OpenSSL matches names regardless of case); "listed", which names a revocation
    list nobody serves, "silent" one that a server never answers; "early", "late", "retired",
    "enciphering", "slow", "fallback", "moved", "reasons", "compromised" and those of
    the lists they name as their subjects say; "tsa" and "revoked-tsa" under the time-stamp
    intermediate; "cross-a" and "cross-b", which sign each other; "lists", every list, and the other
    offline files below. CA files: "trusted" (the code root), "tsa-trusted" (the time-stamp root)."""
    pki = Pki(folder)
    lists, pki.silent = serve_folder(folder)
    pki.issue("root", "Throwaway Root CA", options=AUTHORITY)
    for name, subject, options in (
            ("intermediate", "Throwaway Code Signing CA", listed_at(f"{lists}/root.crl")),
            ("twin-intermediate", "THROWAWAY CODE SIGNING CA", []),
            ("retired-intermediate", "Retired Code Signing CA", listed_at(f"{lists}/root.crl")),
            ("slow-intermediate", "Slowly listed CA", listed_at(f"{lists}/slow/root.crl"))):
        pki.issue(name, subject, "root", AUTHORITY + options)
    in_list = listed_at(f"{lists}/intermediate.crl")
    for name, subject, issuer, options in (
            ("signer", "Throwaway signer", "intermediate", ["-set_serial", "4242"]),
            ("other", "Other trusted signer", "intermediate", []),
            ("twin", "Twin signer", "twin-intermediate", ["-set_serial", "4242"]),
            ("listed", "Listed signer", "intermediate", listed_at("http://127.0.0.1:9/signer.crl")),
            ("silent", "Silently listed signer", "intermediate", listed_at(
                f"http://127.0.0.1:{pki.silent.getsockname()[1]}/signer.crl")),
            ("early", "Signer revoked a day before now", "intermediate", in_list),
            ("late", "Signer revoked an hour after now", "intermediate", in_list),
            ("retired", "Signer under a CA that its root revoked", "retired-intermediate", []),
            ("enciphering", "Signer whose key may only encipher", "intermediate", []),
            ("slow", "Slowly listed signer", "slow-intermediate", listed_at(
                f"{lists}/slow/slow-intermediate.crl")),
            ("fallback", "Signer listed first where no one answers", "intermediate", listed_at(
                f"http://127.0.0.1:{pki.silent.getsockname()[1]}/signer.crl,URI:{lists}/"
                f"intermediate.crl")),
            ("moved", "Signer whose list has moved", "intermediate", listed_at(
                f"{lists}/moved/intermediate.crl")),
            ("reasons", "Signer listed for key compromise only", "intermediate", [
                "-addext", "crlDistributionPoints=DER:" + x509.CRLDistributionPoints([{
                    "distribution_point": {"full_name": [x509.GeneralName(
                        "uniform_resource_identifier", f"{lists}/intermediate.crl")]},
                    "reasons": {"key_compromise"}}]).dump().hex()]),
            *((name, f"Signer of {name} lists", "intermediate", listed_at(f"{lists}/{name}.crl"))
              for name in ("forged", "partitioned", "between", "endless")),
            ("compromised", "Signer whose key was compromised", "intermediate", in_list)):
        pki.issue(name, subject, issuer, [option.replace("digitalSignature", "keyEncipherment") if
                                          name == "enciphering" else option
                                          for option in CODE_SIGNING + options], chain=[issuer])
    pki.issue("loosely", "Signer whose key usage, not critical, enciphers", "intermediate", [
        "-addext", "keyUsage=keyEncipherment", *CODE_SIGNING[2:]], chain=["intermediate"])
    # DEFAULT values that DER leaves out: "explicit" encodes `cA FALSE`, its CA `critical FALSE`.
    pki.issue("default", "Throwaway DEFAULT CA", "root", AUTHORITY)
    certificate = pki.certificate("default")
    tbs = certificate["tbs_certificate"]
    first, *others = tbs["extensions"]
    tbs["extensions"] = [x509.Extension.load(core.Sequence(contents=first["extn_id"].dump() + (
        b"\x01\x01\x00" + first["extn_value"].dump())).dump()), *others]
    certificate["signature_value"] = subprocess.run(
        ["openssl", "dgst", "-sha256", "-sign", pki.path("root", ".key")], input=tbs.dump(),
        capture_output=True, check=True).stdout
    with open(pki.path("default"), "wb") as file:
        file.write(armor("CERTIFICATE", certificate.dump()))
    pki.issue("explicit", "Signer with cA FALSE", "default", CODE_SIGNING + [
        "-addext", "basicConstraints=DER:30:03:01:01:00"], chain=["default"])
    pki.issue("tsa-root", "Throwaway Time-Stamp Root", options=AUTHORITY)
    pki.issue("tsa-intermediate", "Throwaway Time-Stamp CA", "tsa-root",
              AUTHORITY + listed_at(f"{lists}/tsa-root.crl"))
    for name, subject in (("tsa", "Throwaway time-stamps"), ("revoked-tsa", "Revoked time-stamps")):
        pki.issue(name, subject, "tsa-intermediate",
                  TIME_STAMPING + listed_at(f"{lists}/tsa-intermediate.crl"))
    # Cross B again, its key now certified by Cross A, which it certified.
    for name, subject, issuer in (("cross-b", "Cross B", None), ("cross-a", "Cross A", "cross-b"),
                                  ("cross-b", "Cross B", "cross-a")):
        pki.issue(name, subject, issuer, AUTHORITY + ["-set_serial", "4242"])
    # A forger's pair: each trusted root's name and key under a root of its own, listed nowhere.
    pki.issue("forger", "Forger Root", options=AUTHORITY)
    for name, root in (("forged-root", "root"), ("forged-tsa-root", "tsa-root")):
        shutil.copy(pki.path(root, ".key"), pki.path(name, ".key"))
        pki.issue(name, pki.certificate(root).subject.native["common_name"], "forger",
                  AUTHORITY + listed_at("http://127.0.0.1:9/forger.crl"))
    day, hour = datetime.timedelta(days=1), datetime.timedelta(hours=1)
    code = pki.revocation_list("root", [("retired-intermediate", NOW)]) + pki.revocation_list(
        "intermediate", [("early", NOW - day), ("late", NOW + hour),
                         ("compromised", NOW + hour, NOW - day)])
    times = pki.revocation_list("tsa-root") + pki.revocation_list("tsa-intermediate", [
        ("revoked-tsa", NOW - day)])
    pki.revocation_list("slow-intermediate")
    pki.revocation_list("intermediate", file="forged", signer="other")
    pki.revocation_list("intermediate", file="partitioned", scope=f"{lists}/elsewhere.crl")
    # The offline files: every list; the code signing lists alone; every list beside an expired
    # one; every list beyond the size a list file may have.
    for name, contents in (("lists", code + times), ("code-lists", code), ("expired-lists", code + (
            pki.revocation_list("intermediate", file="expired", hours=(-72, -24)) + times)),
                           ("oversized-lists", code + times + b"\n" * (16 << 20))):
        with open(pki.path(name), "wb") as file:
            file.write(contents)
    pki.bundle("trusted", "root")
    pki.bundle("tsa-trusted", "tsa-root")
    return pki


@contextlib.contextmanager
def serve_timestamps(pki, certs=("tsa-intermediate",), signer="tsa"):
    """The time-stamp authority `signer` on 127.0.0.1: openssl ts answers each RFC 3161 query
    posted, with its certificate and those of `certs` (its chain file) in the token."""
    chain = pki.bundle("-".join(("tsa-chain",) + certs), *certs)
    config = pki.path("-".join((signer,) + certs), ".cnf")
    with open(config, "w", encoding="ascii") as file:
        file.write(f"[tsa]\ndefault_tsa = t\n[t]\nserial = {config}.serial\n"
                   f"signer_cert = {pki.path(signer)}\nsigner_key = {pki.path(signer, '.key')}\n"
                   f"certs = {chain}\nsigner_digest = sha256\n"
                   f"default_policy = 1.2.3.4.1\ndigests = sha256\n")

    class Authority(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            reply = subprocess.run(
                ["openssl", "ts", "-reply", "-config", config, "-queryfile", "/dev/stdin", "-out",
                 "/dev/stdout"], input=self.rfile.read(int(self.headers["Content-Length"])),
                capture_output=True, check=True).stdout
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *_):
            pass
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Authority)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    with server:
        yield f"http://127.0.0.1:{server.server_port}"
        server.shutdown()
