"""A throwaway PKI shaped like the one a real release meets: a root that only the user's CA file
holds, an intermediate that the signature carries, code-signing leaves under it; a time-stamp
authority under a root and an intermediate of its own, served by openssl ts on 127.0.0.1."""

import contextlib
import hashlib
import http.server
import os
import subprocess
import threading

from asn1crypto import cms, x509
from asn1crypto.pem import unarmor

CODE_SIGNING = ["-addext", "keyUsage=critical,digitalSignature",
                "-addext", "extendedKeyUsage=codeSigning"]
AUTHORITY = ["-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign"]
TIME_STAMPING = ["-addext", "keyUsage=critical,digitalSignature",
                 "-addext", "extendedKeyUsage=critical,timeStamping"]


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
        """A certificate of a new RSA key, signed by `issuer` (self-signed without one); a leaf
        gets a PKCS#12 file with the certificates of `chain`."""
        key, pem = self.path(name, ".key"), self.path(name)
        openssl = ["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                   f"/CN={subject}", "-keyout", key, "-out", pem, *options]
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


def release_pki(folder):
    """The PKI of the signing tests: "signer" (pinned by the tests) and "other" under the code
    intermediate; "twin" with the signer's serial under an intermediate whose name is the first
    one's in capitals (OpenSSL matches names regardless of case); "listed", which names a revocation
    list nobody serves; "tsa" under the time-stamp intermediate. CA files: "trusted" (the code
    root), "tsa-trusted" (the time-stamp root)."""
    pki = Pki(folder)
    pki.issue("root", "Throwaway Root CA", options=AUTHORITY)
    for name, subject in (("intermediate", "Throwaway Code Signing CA"),
                          ("twin-intermediate", "THROWAWAY CODE SIGNING CA")):
        pki.issue(name, subject, "root", AUTHORITY)
    for name, subject, issuer, options in (
            ("signer", "Throwaway signer", "intermediate", ["-set_serial", "4242"]),
            ("other", "Other trusted signer", "intermediate", []),
            ("twin", "Twin signer", "twin-intermediate", ["-set_serial", "4242"]),
            ("listed", "Listed signer", "intermediate",
             ["-addext", "crlDistributionPoints=URI:http://127.0.0.1:9/signer.crl"])):
        pki.issue(name, subject, issuer, CODE_SIGNING + options, chain=[issuer])
    pki.issue("tsa-root", "Throwaway Time-Stamp Root", options=AUTHORITY)
    pki.issue("tsa-intermediate", "Throwaway Time-Stamp CA", "tsa-root", AUTHORITY)
    pki.issue("tsa", "Throwaway time-stamps", "tsa-intermediate", TIME_STAMPING)
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
