"""What the release check's revocation judgement costs on the worst input of each kind, all signed
by an authority whose key has a 3071-bit public exponent, so that each signature check costs what
a private key's operation does. The lists are served from 127.0.0.1 (by the signing tests' list
server), as a forger on the network would serve them, or given as the user's list file.

Run by hand through its target:
    cmake --build --preset windows --target release_revocation_bench
"""

import argparse
import datetime
import math
import os
import secrets
import sys
import tempfile
import time

from asn1crypto import x509
from cryptography import x509 as keys
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import NameOID

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "package"), os.path.join(HERE, "..", "tests", "wine")]
import release_revocation  # noqa: E402
from release_signature import Differs, check_trust  # noqa: E402
from throwaway_pki import serve_folder  # noqa: E402

NOW = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
PEM, DER = serialization.Encoding.PEM, serialization.Encoding.DER


def exponent_key():
    """An RSA-3072 key whose public exponent has 3071 bits, from a generated key's primes."""
    numbers = rsa.generate_private_key(65537, 3072).private_numbers()
    p, q = numbers.p, numbers.q
    phi = (p - 1) * (q - 1)
    while math.gcd(exponent := secrets.randbits(3071) | 1 << 3070 | 1, phi) != 1:
        pass
    d = pow(exponent, -1, phi)
    return rsa.RSAPrivateNumbers(p, q, d, d % (p - 1), d % (q - 1), pow(q, -1, p),
                                 rsa.RSAPublicNumbers(exponent, p * q)).private_key()


def named(text):
    return keys.Name([keys.NameAttribute(NameOID.COMMON_NAME, text)])


def certificate(subject, key, issuer, issuer_key, points=(), serial=1):
    built = keys.CertificateBuilder().subject_name(named(subject)).issuer_name(named(issuer)) \
        .public_key(key.public_key()).serial_number(serial) \
        .not_valid_before(NOW - datetime.timedelta(days=1)) \
        .not_valid_after(NOW + datetime.timedelta(days=1))
    if points:
        built = built.add_extension(keys.CRLDistributionPoints([keys.DistributionPoint(
            [keys.UniformResourceIdentifier(point) for point in points], None, None, None)]), False)
    return x509.Certificate.load(built.sign(issuer_key, hashes.SHA256()).public_bytes(DER))


def revocation_list(key, entries=0, last=None, hours=1):
    """The root's list: `entries` serials revoked, `last` among them at the end."""
    when = NOW - datetime.timedelta(hours=hours)
    revoked = [keys.RevokedCertificateBuilder().serial_number(serial).revocation_date(when).build()
               for serial in [*range(10 ** 6, 10 ** 6 + entries), *([last] if last else [])]]
    return keys.CertificateRevocationListBuilder(
        named("Bench Root"), when, NOW + datetime.timedelta(days=1),
        revoked_certificates=revoked).sign(key, hashes.SHA256())


def judged(label, root, key, points, crlfile=None):
    leaf = certificate(label, rsa.generate_private_key(65537, 2048), "Bench Root", key, points,
                       serial=4242)
    start = time.monotonic()
    try:
        if crlfile:
            check_trust(argparse.Namespace(cafile=None, timestamp_cafile=None, crlfile=crlfile))
        release_revocation.judge_revocation([("bench", [leaf, root])], None, crlfile)
        verdict = "accepted"
    except (release_revocation.Refused, Differs) as refusal:
        verdict = str(refusal)
    print(f"{label}: {time.monotonic() - start:.2f} s: {verdict[:150]}", flush=True)


def main():
    key = exponent_key()
    root = certificate("Bench Root", key, "Bench Root", key)
    cap = release_revocation.LIST_CAP
    print(f"building the lists (a revocation list of at most {cap} bytes)...", flush=True)
    one = revocation_list(key).public_bytes(PEM)
    # 22 bytes an entry: its serial, its date and their SEQUENCE.
    fullest = revocation_list(key, (cap - 2048) // 22, last=4242).public_bytes(DER)
    block = revocation_list(key, 16_500_000 * 3 // 4 * 64 // 65 // 22, last=4242).public_bytes(PEM)
    distinct = b"".join(revocation_list(key, hours=hour).public_bytes(PEM)
                        for hour in range(1, release_revocation.LISTS_CAP + 1))
    folder = tempfile.mkdtemp(prefix="revocation-bench-")
    for name, data in (("copies", one * (cap // len(one))), ("fullest", fullest), ("block", block),
                       ("distinct", distinct)):
        with open(os.path.join(folder, name), "wb") as file:
            file.write(data)
    url = serve_folder(folder)[0]
    print(f"lists: {len(one)} bytes copied {cap // len(one)} times; {len(fullest)} bytes of DER; "
          f"one PEM block of {len(block)} bytes; {release_revocation.LISTS_CAP} distinct lists",
          flush=True)
    judged("16 MiB of copies of one list", root, key, [f"{url}/copies"])
    judged("three points, each 16 MiB of copies", root, key, [f"{url}/copies"] * 3)
    judged(f"{release_revocation.LISTS_CAP} distinct lists in one answer", root, key,
           [f"{url}/distinct"])
    judged("one PEM block of 16.5 MB", root, key, [f"{url}/block"])
    judged("the most entries a list may have", root, key, [f"{url}/fullest"])
    judged("a list file of one 16.5 MB PEM block", root, key, [f"{url}/block"],
           os.path.join(folder, "block"))
    judged("a list file of 16 MiB of copies", root, key, [f"{url}/block"],
           os.path.join(folder, "copies"))


if __name__ == "__main__":
    main()
