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

    def revocation_list(self, issuer, revoked=()):
        """The issuer's list of the (name, time) revoked, in <issuer>.crl (DER); returns its PEM."""
        crl = keys.CertificateRevocationListBuilder().issuer_name(keys.load_pem_x509_certificate(
            read(self.path(issuer))).subject).last_update(NOW - datetime.timedelta(hours=1))
        for name, when in revoked:
            crl = crl.add_revoked_certificate(keys.RevokedCertificateBuilder().serial_number(
                self.certificate(name).serial_number).revocation_date(when).build())
        crl = crl.next_update(NOW + datetime.timedelta(days=2))
        crl = crl.sign(serialization.load_pem_private_key(read(self.path(issuer, ".key")), None),
                       hashes.SHA256())
        with open(self.path(issuer, ".crl"), "wb") as file:
            file.write(crl.public_bytes(serialization.Encoding.DER))
        return crl.public_bytes(serialization.Encoding.PEM)


def serve_folder(folder):
    """The folder's files over http on 127.0.0.1, and a server whose connections the kernel takes
    and nothing ever answers, both for the life of the process."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(type(
        "Lists", (http.server.SimpleHTTPRequestHandler,), {"log_message": lambda *_: None}),
        directory=folder))
    server.silent = socket.create_server(("127.0.0.1", 0))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f"http://127.0.0.1:{server.server_port}", server.silent


def release_pki(folder):
    """The PKI of the signing tests: "signer" (pinned by the tests) and "other" under the code
    intermediate; "twin" with the signer's serial under an intermediate whose name is the first
    one's in capitals (OpenSSL matches names regardless of case); "listed", which names a revocation
    list nobody serves, "silent" one that a server never answers; "early", "late", "retired" and
    "enciphering" as their subjects say; "tsa" under the time-stamp intermediate; "cross-a" and
    "cross-b", which sign each other; "lists", every list. CA files: "trusted" (the code root),
    "tsa-trusted" (the time-stamp root)."""
    pki = Pki(folder)
    lists, pki.silent = serve_folder(folder)
    pki.issue("root", "Throwaway Root CA", options=AUTHORITY)
    for name, subject, options in (
            ("intermediate", "Throwaway Code Signing CA", listed_at(f"{lists}/root.crl")),
            ("twin-intermediate", "THROWAWAY CODE SIGNING CA", []),
            ("retired-intermediate", "Retired Code Signing CA", listed_at(f"{lists}/root.crl"))):
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
            ("enciphering", "Signer whose key may only encipher", "intermediate", [])):
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
    pki.issue("tsa", "Throwaway time-stamps", "tsa-intermediate",
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
    with open(pki.path("lists"), "wb") as file:
        file.write(pki.revocation_list("root", [("retired-intermediate", NOW)]) +
                   pki.revocation_list("intermediate", [
                       ("early", NOW - datetime.timedelta(days=1)),
                       ("late", NOW + datetime.timedelta(hours=1))]) +
                   pki.revocation_list("tsa-root") + pki.revocation_list("tsa-intermediate"))
    pki.bundle("trusted", "root")
    pki.bundle("tsa-trusted", "tsa-root")
    return pki


@contextlib.contextmanager
def serve_timestamps(pki, certs=("tsa-intermediate",)):
    """The time-stamp authority on 127.0.0.1: openssl ts answers each RFC 3161 query posted, with
    its certificate and those of `certs` (its chain file) in the token."""
    chain = pki.bundle("-".join(("tsa-chain",) + certs), *certs)
    config = pki.path("-".join(("tsa",) + certs), ".cnf")
    with open(config, "w", encoding="ascii") as file:
        file.write(f"[tsa]\ndefault_tsa = t\n[t]\nserial = {config}.serial\n"
                   f"signer_cert = {pki.path('tsa')}\nsigner_key = {pki.path('tsa', '.key')}\n"
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
