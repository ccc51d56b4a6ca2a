"""Revocation of every certificate on a signature's paths, judged here rather than by osslsigncode:
the signer's path and the time-stamp authority's, each certificate against its issuer's revocation
list. The lists come from the distribution points the certificates name (http, within one deadline
for all of them) or, offline, from the user's file alone. As Windows judges it, a certificate
revoked after the time-stamp's time keeps the signature valid; revoked at or before it, or without a
time-stamp, it is refused."""

import datetime
import threading
import time
import urllib.parse
import urllib.request

from asn1crypto import pem
from cryptography import x509 as keys

# All fetches of one check together end within this many seconds, whatever the servers do.
FETCH_DEADLINE = 30
# A public authority's list runs to a few MiB; a larger answer is cut off unread.
LIST_CAP = 16 * 1024 * 1024
# A list's time may run this far ahead of this machine's clock.
CLOCK_SKEW = datetime.timedelta(minutes=5)


class Refused(Exception):
    pass


def name(certificate):
    """The subject as OpenSSL's compat form writes it, e.g. /CN=name, cut to 80 characters."""
    return "".join("/" + attribute.rfc4514_string() for rdn in certificate.subject.rdns
                   for attribute in rdn)[:80]


def distribution_points(certificate):
    return [general.value for point in extension(certificate, keys.CRLDistributionPoints) or []
            for general in point.full_name or []
            if isinstance(general, keys.UniformResourceIdentifier)]


def lists_in(data):
    """The revocation lists of PEM bytes; one that cannot be read is left out."""
    found = []
    try:
        blocks = list(pem.unarmor(data, multiple=True))
    except ValueError:
        return []
    for kind, _, der in blocks:
        if kind == "X509 CRL":
            try:
                found.append(keys.load_der_x509_crl(der))
            except ValueError:
                pass
    return found


class Fetcher:
    """http GETs that end, all of them together, by one deadline set at the first."""

    def __init__(self):
        self.deadline = None
        self.opener = urllib.request.OpenerDirector()
        # Plain http, no redirect: a distribution point names where its list is.
        for handler in (urllib.request.HTTPHandler, urllib.request.HTTPDefaultErrorHandler,
                        urllib.request.HTTPErrorProcessor):
            self.opener.add_handler(handler())

    def get(self, url, answer):
        try:
            with self.opener.open(url, timeout=max(self.deadline - time.monotonic(), 0.1)) as reply:
                data = bytearray()
                while len(data) <= LIST_CAP and time.monotonic() < self.deadline:
                    chunk = reply.read(65536)
                    if not chunk:
                        break
                    data += chunk
            answer["data"] = bytes(data)
        # A server's answer may break the reading anywhere: still one line.
        except Exception as error:
            answer["error"] = str(getattr(error, "reason", error)) or type(error).__name__

    def fetch(self, url):
        if self.deadline is None:
            self.deadline = time.monotonic() + FETCH_DEADLINE
        server = (urllib.parse.urlsplit(url).netloc or url)[:80]
        answer = {}
        # A thread bounds even a name lookup, which no socket timeout covers.
        thread = threading.Thread(target=self.get, args=(url, answer), daemon=True)
        thread.start()
        thread.join(max(self.deadline - time.monotonic(), 0))
        if "error" in answer:
            raise Refused(f"the revocation list server {server} fails: {answer['error']}")
        data = answer.get("data")
        if data is None or time.monotonic() > self.deadline:
            raise Refused(f"the revocation list server {server} gave no list within the "
                          f"{FETCH_DEADLINE} s all fetches have")
        if len(data) > LIST_CAP:
            raise Refused(f"the revocation list server {server} sends more than {LIST_CAP} bytes")
        try:
            return [keys.load_der_x509_crl(data)]
        except ValueError:
            return lists_in(data)


def extension(holder, kind):
    try:
        return holder.extensions.get_extension_for_class(kind).value
    except keys.ExtensionNotFound:
        return None


def covers(crl, certificate):
    """Whether the list is complete for the certificate: a delta list, a list of some reasons
    only, of another authority's certificates or of another kind of certificate, or one with a
    critical extension unknown here, cannot tell that it is not revoked."""
    if extension(crl, keys.DeltaCRLIndicator) or any(
            item.critical and isinstance(item.value, keys.UnrecognizedExtension)
            for item in crl.extensions):
        return False
    scope = extension(crl, keys.IssuingDistributionPoint)
    if scope is None:
        return True
    authority = getattr(extension(certificate, keys.BasicConstraints), "ca", False)
    names = {general.value for general in scope.full_name or []
             if isinstance(general, keys.UniformResourceIdentifier)}
    return not (scope.only_some_reasons or scope.indirect_crl or
                scope.only_contains_attribute_certs or
                (scope.only_contains_user_certs and authority) or
                (scope.only_contains_ca_certs and not authority) or
                (names and not names & set(distribution_points(certificate))))


def signed_by(crl, issuer, certificate):
    """Whether the issuer's key signed the list and it judges the certificate."""
    try:
        return crl.issuer == issuer.subject and crl.is_signature_valid(
            issuer.public_key()) and covers(crl, certificate)
    except (ValueError, TypeError):
        return False


def issuers_lists(certificate, issuer, offline, fetcher, crlfile):
    """The lists of the certificate's issuer, signed by its key: from the file offline, else from
    the first distribution point the certificate names that serves one."""
    points = distribution_points(certificate)
    if offline is not None:
        found = [crl for crl in offline if signed_by(crl, issuer, certificate)]
        if points and not found:
            raise Refused(f"{crlfile} (ARGB_RELEASE_CRLFILE) holds no complete revocation list of "
                          f"{name(issuer)} for {name(certificate)}, which names one")
        return found
    fault = None
    for url in points:
        if not url.lower().startswith("http://"):
            fault = Refused(f"{name(certificate)} names its revocation list at {url[:80]}, which "
                            f"this check does not fetch: give it in ARGB_RELEASE_CRLFILE")
            continue
        try:
            found = [crl for crl in fetcher.fetch(url) if signed_by(crl, issuer, certificate)]
        except Refused as refusal:
            fault = refusal
            continue
        if found:
            return found
        fault = Refused(f"{url[:80]} serves no complete revocation list signed by "
                        f"{name(issuer)}")
    if fault:
        raise fault
    return []


def judge_revocation(paths, at, crlfile):
    """paths: (what, certificates from the signer up to its root or its trusted top, each issued
    by the next), in cryptography's form; at: the time-stamp's time, or None. Raises Refused with
    one line."""
    # The lists' times are UTC without a zone.
    now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
    at = at and at.astimezone(datetime.timezone.utc).replace(tzinfo=None)
    offline = None
    if crlfile:
        with open(crlfile, "rb") as file:
            offline = lists_in(file.read())
    fetcher = Fetcher()
    for what, path in paths:
        for certificate, issuer in zip(path, path[1:]):
            try:
                found = issuers_lists(certificate, issuer, offline, fetcher, crlfile)
            except Refused as refusal:
                raise Refused(f"{what}: {refusal}") from None
            for crl in found:
                if crl.last_update > now + CLOCK_SKEW or (
                        crl.next_update and crl.next_update < now):
                    raise Refused(f"{what}: the revocation list of {name(issuer)} is not current "
                                  f"(from {crl.last_update:%Y-%m-%d} to "
                                  f"{crl.next_update or 'no date'})")
                entry = crl.get_revoked_certificate_by_serial_number(certificate.serial_number)
                if entry and (at is None or entry.revocation_date <= at):
                    when = (f", at or before its time-stamp of {at:%Y-%m-%d %H:%M:%S} UTC" if at
                            else " and it has no time-stamp")
                    raise Refused(f"{what}: {name(certificate)} is revoked since "
                                  f"{entry.revocation_date:%Y-%m-%d %H:%M:%S} UTC{when}")
