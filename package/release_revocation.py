"""Revocation of every certificate on a signature's paths, judged here rather than by osslsigncode:
the signer's path and the time-stamp authority's, each certificate against its issuer's revocation
list. The lists come from the distribution points the certificates name (http, within one deadline
for the fetching and judging of all of them) or, offline, from the user's file alone. As Windows
judges it, a certificate revoked after the time-stamp's time keeps the signature valid; revoked at
or before it, or without a time-stamp, it is refused. A key compromised counts from the earlier of
its revocation and the date the list gives for its compromise."""

import datetime
import queue
import threading
import time
import urllib.error
import urllib.parse
import urllib.request

from asn1crypto import core, x509
from cryptography import exceptions, x509 as keys
from cryptography.hazmat.primitives import serialization

from release_names import subject as name

# The fetching and judging of all the lists of one check together end within this many seconds,
# whatever the servers send and the lists hold.
FETCH_DEADLINE = 30
# A public authority's list runs to a few MiB; a larger answer or list file is refused unread.
LIST_CAP = 16 * 1024 * 1024
# An answer holds one list; a file one for each issuer on both paths, perhaps beside older ones.
# More are refused before any is read, as each may cost a signature check.
LISTS_CAP = 64
# The points of one certificate asked at once, so that a silent one leaves time for the others; a
# real certificate names one or two.
POINTS_CAP = 4
# Redirects a point may lead through, http to http only.
REDIRECTS_CAP = 3
# A list's time may run this far ahead of this machine's clock.
CLOCK_SKEW = datetime.timedelta(minutes=5)
# Reasons for which a key was not to be trusted before its revocation: the list's invalidity date
# counts where it is earlier.
COMPROMISE = {keys.ReasonFlags.key_compromise, keys.ReasonFlags.ca_compromise,
              keys.ReasonFlags.aa_compromise}
CRL_DISTRIBUTION_POINTS, BASIC_CONSTRAINTS = "2.5.29.31", "2.5.29.19"
PEM_END = b"-----END X509 CRL-----"
# What asn1crypto may raise on bytes it cannot read.
READING_FAULTS = (ValueError, TypeError, KeyError, IndexError, AttributeError, OverflowError)


class Refused(Exception):
    pass


def needed(certificate, oid):
    """The value of the certificate's extension `oid`, or None. Only this one is parsed, so no
    other extension, whatever OID or value it holds, bears on the verdict."""
    try:
        extensions = certificate["tbs_certificate"]["extensions"]
        for item in [] if isinstance(extensions, core.Void) else extensions:
            if item["extn_id"].dotted == oid:
                return item["extn_value"].parsed
    except READING_FAULTS:
        unreadable(certificate, oid)
    return None


def unreadable(certificate, oid):
    raise Refused(f"{name(certificate)} cannot be read for its revocation: its extension {oid}")


def distribution_points(certificate):
    """The URLs of the points that hold the certificate's complete list, and whether it names
    others: of some reasons only, at another issuer (cRLIssuer) or without a URL."""
    urls, others = [], False
    try:
        for point in needed(certificate, CRL_DISTRIBUTION_POINTS) or []:
            where = point["distribution_point"]
            found = [general.chosen.native for general in where.chosen
                     if general.name == "uniform_resource_identifier"] if (
                         not isinstance(where, core.Void) and where.name == "full_name") else []
            if found and point["reasons"].native is None and point["crl_issuer"].native is None:
                urls += found
            else:
                others = True
    except READING_FAULTS:
        unreadable(certificate, CRL_DISTRIBUTION_POINTS)
    return urls, others


def authority(certificate):
    constraints = needed(certificate, BASIC_CONSTRAINTS)
    try:
        return bool(constraints and constraints["ca"].native)
    except READING_FAULTS:
        unreadable(certificate, BASIC_CONSTRAINTS)


def lists_in(data):
    """The revocation lists of PEM bytes, each block read alone by python3-cryptography, so that
    the reading takes time linear in the size; one that cannot be read is left out."""
    if len(data) > LIST_CAP:
        raise Refused(f"holds more than the {LIST_CAP} bytes a revocation list file may have")
    if data.count(PEM_END) > LISTS_CAP:
        raise Refused(f"holds {data.count(PEM_END)} revocation lists, more than {LISTS_CAP}")
    found, start = {}, 0
    while (end := data.find(PEM_END, start)) >= 0:
        block, start = data[start:end + len(PEM_END)], end + len(PEM_END)
        # Copies of one list are one list, its signature checked once.
        if block not in found:
            try:
                found[block] = keys.load_pem_x509_crl(block)
            except ValueError:
                pass
    return list(found.values())


def server_of(url):
    return (urllib.parse.urlsplit(url).netloc or url)[:80]


class Fetcher:
    """http GETs of the distribution points, all ended by one deadline."""

    def __init__(self, deadline):
        self.deadline = deadline
        self.opener = urllib.request.OpenerDirector()
        # Plain http; redirects are followed by get() alone, so that each target is judged.
        for handler in (urllib.request.HTTPHandler, urllib.request.HTTPDefaultErrorHandler,
                        urllib.request.HTTPErrorProcessor):
            self.opener.add_handler(handler())

    def get(self, point, answers):
        url, server = point, server_of(point)
        try:
            for _ in range(REDIRECTS_CAP + 1):
                try:
                    reply = self.opener.open(url, timeout=max(self.deadline - time.monotonic(),
                                                              0.1))
                except urllib.error.HTTPError as error:
                    error.close()
                    target = error.headers.get("Location")
                    if error.code not in (301, 302, 303, 307, 308) or not target:
                        raise
                    url = urllib.parse.urljoin(url, target)
                    if not url.lower().startswith("http://"):
                        raise Refused(f"redirects to {url[:80]}, which this check does not fetch: "
                                      f"give the list in ARGB_RELEASE_CRLFILE") from None
                    continue
                with reply:
                    data = bytearray()
                    while len(data) <= LIST_CAP and time.monotonic() < self.deadline:
                        chunk = reply.read(65536)
                        if not chunk:
                            break
                        data += chunk
                # An answer still coming at the deadline is none.
                if time.monotonic() >= self.deadline:
                    raise Refused(f"gave no list within the {FETCH_DEADLINE} s all fetches have")
                if len(data) > LIST_CAP:
                    raise Refused(f"sends more than {LIST_CAP} bytes")
                answers.put((point, bytes(data)))
                return
            raise Refused(f"redirects more than {REDIRECTS_CAP} times, last to {url[:80]}")
        except Refused as refusal:
            answers.put((point, Refused(f"the revocation list server {server} {refusal}")))
        # A server's answer may break the reading anywhere: still one line.
        except Exception as error:
            reason = str(getattr(error, "reason", error)) or type(error).__name__
            answers.put((point, Refused(f"the revocation list server {server} fails: {reason}")))

    def fetch(self, urls):
        """Asks every point at once; yields (its URL, its lists or a Refused) as each answers."""
        answers, waiting = queue.Queue(), list(urls)
        for url in urls:
            # A thread bounds even a name lookup, which no socket timeout covers.
            threading.Thread(target=self.get, args=(url, answers), daemon=True).start()
        while waiting:
            try:
                url, answer = answers.get(timeout=max(self.deadline - time.monotonic(), 0))
            except queue.Empty:
                server = server_of(waiting[0])
                raise Refused(f"the revocation list server {server} gave no list within the "
                              f"{FETCH_DEADLINE} s all fetches have") from None
            waiting.remove(url)
            try:
                yield url, answer if isinstance(answer, Refused) else [
                    keys.load_der_x509_crl(answer)]
            except ValueError:
                try:
                    yield url, lists_in(answer)
                except Refused as refusal:
                    yield url, Refused(f"{url[:80]} {refusal}")


class Judge:
    """The lists of one check: the file's, read once, or those the points serve, each list's
    signature checked once with the key of the issuer whose list it claims to be."""

    def __init__(self, crlfile):
        self.deadline = time.monotonic() + FETCH_DEADLINE
        self.crlfile = crlfile
        self.offline = None
        if crlfile:
            with open(crlfile, "rb") as file:
                try:
                    self.offline = lists_in(file.read(LIST_CAP + 1))
                except Refused as refusal:
                    raise Refused(f"{crlfile} (ARGB_RELEASE_CRLFILE) {refusal}") from None
        self.fetcher = Fetcher(self.deadline)
        self.verified = {}

    def in_time(self):
        if time.monotonic() > self.deadline:
            raise Refused(f"its revocation lists were not judged within the {FETCH_DEADLINE} s "
                          f"they have")

    def complete(self, crl, issuer, certificate, urls):
        """Whether the issuer's key signed the list and it judges the certificate: a delta list, a
        list of some reasons only, of another authority's certificates or of another kind of
        certificate, or one with a critical extension unknown here, cannot tell that it is not
        revoked."""
        try:
            if x509.Name.load(crl.issuer.public_bytes()) != issuer.subject:
                return False
            self.in_time()
            key = (id(crl), issuer.dump())
            if key not in self.verified:
                self.verified[key] = crl.is_signature_valid(serialization.load_der_public_key(
                    issuer["tbs_certificate"]["subject_public_key_info"].dump()))
            if not self.verified[key] or crl.extensions.get_extension_for_class(
                    keys.DeltaCRLIndicator):
                return False
        except keys.ExtensionNotFound:
            pass
        except (ValueError, TypeError, exceptions.UnsupportedAlgorithm):
            return False
        if any(item.critical and isinstance(item.value, keys.UnrecognizedExtension)
               for item in crl.extensions):
            return False
        try:
            scope = crl.extensions.get_extension_for_class(keys.IssuingDistributionPoint).value
        except keys.ExtensionNotFound:
            return True
        names = {general.value for general in scope.full_name or []
                 if isinstance(general, keys.UniformResourceIdentifier)}
        return not (scope.only_some_reasons or scope.indirect_crl or scope.relative_name or
                    scope.only_contains_attribute_certs or
                    (scope.only_contains_user_certs and authority(certificate)) or
                    (scope.only_contains_ca_certs and not authority(certificate)) or
                    (names and not names & set(urls)))


def issuers_lists(certificate, issuer, judge):
    """The lists of the certificate's issuer, signed by its key and complete for it: from the file
    offline, else from the first distribution point the certificate names that serves one."""
    urls, others = distribution_points(certificate)
    if others and not urls:
        raise Refused(f"{name(certificate)} names its revocation list only for some reasons, at "
                      f"another issuer or without a URL, which this check cannot judge")
    if judge.offline is not None:
        found = [crl for crl in judge.offline if judge.complete(crl, issuer, certificate, urls)]
        if urls and not found:
            raise Refused(f"{judge.crlfile} (ARGB_RELEASE_CRLFILE) holds no complete revocation "
                          f"list of {name(issuer)} for {name(certificate)}, which names one")
        return found
    fault = None
    fetched = [url for url in urls if url.lower().startswith("http://")][:POINTS_CAP]
    if len(fetched) < len(urls):
        fault = Refused(f"{name(certificate)} names its revocation list at "
                        f"{next(url for url in urls if url not in fetched)[:80]}, which this check "
                        f"does not fetch: give it in ARGB_RELEASE_CRLFILE")
    for url, answer in judge.fetcher.fetch(fetched) if fetched else ():
        if isinstance(answer, Refused):
            fault = answer
            continue
        found = [crl for crl in answer if judge.complete(crl, issuer, certificate, urls)]
        if found:
            return found
        fault = Refused(f"{url[:80]} serves no complete revocation list signed by "
                        f"{name(issuer)}")
    if fault:
        raise fault
    return []


def revoked_since(entry):
    """The entry's revocation time and, for a compromised key, the earlier time from which it was
    not to be trusted, if the list gives one."""
    since = entry.revocation_date
    try:
        reason = entry.extensions.get_extension_for_class(keys.CRLReason).value.reason
        if reason in COMPROMISE:
            invalid = entry.extensions.get_extension_for_class(keys.InvalidityDate).value
            return since, min(since, invalid.invalidity_date)
    except keys.ExtensionNotFound:
        pass
    return since, since


def judge_revocation(paths, at, crlfile):
    """paths: (what, asn1crypto certificates from the signer up to its trust anchor, each issued
    by the next); the anchor is trusted as the CA file holds it. at: the time-stamp's time, or
    None. Raises Refused with one line."""
    # The lists' times are UTC without a zone.
    now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
    at = at and at.astimezone(datetime.timezone.utc).replace(tzinfo=None)
    judge = Judge(crlfile)
    for what, path in paths:
        for certificate, issuer in zip(path, path[1:]):
            try:
                found = issuers_lists(certificate, issuer, judge)
                current = [crl for crl in found if crl.last_update <= now + CLOCK_SKEW and (
                    crl.next_update is None or crl.next_update >= now)]
                if found and not current:
                    crl = max(found, key=lambda crl: crl.last_update)
                    raise Refused(f"the revocation list of {name(issuer)} is not current (from "
                                  f"{crl.last_update:%Y-%m-%d} to {crl.next_update or 'no date'})")
                # The newest list of the issuer tells the certificate's state.
                crl = max(current, key=lambda crl: crl.last_update) if current else None
                judge.in_time()
                entry = crl and crl.get_revoked_certificate_by_serial_number(
                    certificate.serial_number)
                if not entry:
                    continue
                try:
                    revoked, since = revoked_since(entry)
                except ValueError:
                    raise Refused(f"{name(certificate)} is revoked in the list of {name(issuer)}, "
                                  f"whose entry cannot be read") from None
                if at is None or since <= at:
                    when = (f", at or before its time-stamp of {at:%Y-%m-%d %H:%M:%S} UTC" if at
                            else " and it has no time-stamp")
                    key = (f", its key compromised since {since:%Y-%m-%d %H:%M:%S} UTC"
                           if since < revoked else "")
                    raise Refused(f"{name(certificate)} is revoked since "
                                  f"{revoked:%Y-%m-%d %H:%M:%S} UTC{key}{when}")
            except Refused as refusal:
                raise Refused(f"{what}: {refusal}") from None
