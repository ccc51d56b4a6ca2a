"""The release check's judgement of the program's Authenticode signature (see judge_signature).

osslsigncode verifies; asn1crypto reads the PKCS#7 structure, and the signature is built again from
the parts that the signer's key signed, its time-stamp token likewise from the parts that the
authority's key signed, so that nothing else can ride along in the released bytes. Sizes and counts
are bounded before anything is read, and revocation (release_revocation) is judged last, so that
only a signature that holds in every other way waits for a server.
"""

import hashlib
import os
import re
import struct
import subprocess

from asn1crypto import cms, core, pem, tsp, x509
from cryptography import exceptions
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa

from release_inputs import TRUST_VARIABLES, contents, with_checksum
from release_names import shortened, subject, written
from release_revocation import Refused, judge_revocation, lists_in

# The SHA-256 fingerprints of the maker's signing certificates; ARGB_RELEASE_SIGNERS names another
# file of the same form.
PINNED_SIGNERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "release-signers.txt")
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
RFC3161_TIMESTAMP = "1.3.6.1.4.1.311.3.3.1"
# Authenticode's own time-stamp: a counter-signature whose authority's certificates sit among the
# signer's, where nothing but their names ties them to it.
LEGACY_TIMESTAMP = "1.2.840.113549.1.9.6"
TST_INFO = "1.2.840.113549.1.9.16.1.4"
TIMESTAMP_VERIFIED = "Timestamp Server Signature verification: ok"
# A real chain has two to four certificates (signer, one or two intermediates, perhaps the root):
# more are refused before any is looked at, so no content makes the check slow.
MAX_CERTIFICATES = 6
# A time-stamp token may carry one attribute certificate that names its authority as holder
# (Microsoft's does), signed by no key it carries; a real one is under 1 KiB.
ATTRIBUTE_CERTIFICATE_CAP = 2048
# What a library may raise on bytes it cannot read.
READING_FAULTS = (ValueError, TypeError, KeyError, IndexError, AttributeError, OverflowError)
# The hashes a certificate's signature may be made with.
CERTIFICATE_HASHES = {"sha1": hashes.SHA1, "sha256": hashes.SHA256, "sha384": hashes.SHA384,
                      "sha512": hashes.SHA512}
# A real certificate, even RSA-4096 with many extensions, stays far below this many bytes.
CERTIFICATE_CAP = 16384
# All a signature may hold: both chains at their caps, the token's attribute certificate, and the
# attributes, names and values around them. A larger one is refused before it is read.
SIGNATURE_CAP = 2 * MAX_CERTIFICATES * CERTIFICATE_CAP + ATTRIBUTE_CERTIFICATE_CAP + 65536
# osslsigncode fetches nothing here (-ignore-crl); this only ends a run that hangs.
OSSLSIGNCODE_TIMEOUT = 60
# The system's bundle, which osslsigncode trusts when no CA file is named.
SYSTEM_CA_FILE = "/etc/ssl/certs/ca-certificates.crt"
# An entry of a PE's attribute certificate table (WIN_CERTIFICATE): dwLength, wRevision and
# wCertificateType, then its bytes; each entry starts on a multiple of 8 bytes.
CERTIFICATE_ENTRY = struct.Struct("<IHH")
SIGNED_DATA_ENTRY = (0x0200, 2)
# An OpenSSL error line: id:error:code:library:function:reason:file:line:data
OPENSSL_ERROR = re.compile(r"[0-9A-F]+:error:[0-9A-F]+:[^:]*:[^:]*:([^:]*):[^:]*:[^:]*:?(.*)")


class Differs(Exception):
    pass


class NotPinned(Differs):
    """A signature by a certificate that the pins file lacks, which its maker can still pin."""


# What each file of the user's trust is, and the PEM blocks it must hold.
TRUST_FILES = {"cafile": ("CA file", "CERTIFICATE"),
               "timestamp_cafile": ("time-stamp CA file", "CERTIFICATE"),
               "crlfile": ("revocation list file", "X509 CRL")}


def user_file(path, what):
    """The bytes of a file the user named; a fault is named as theirs, never the release's."""
    try:
        with open(path, "rb") as file:
            return file.read()
    except FileNotFoundError:
        raise Differs(f"{what} is missing") from None
    except OSError as error:
        raise Differs(f"{what} cannot be read: {error.strerror}") from None


def check_trust(trust):
    for name, (kind, label) in TRUST_FILES.items():
        path = getattr(trust, name)
        if not path:
            continue
        what = f"the {kind} {path} (--{name.replace('_', '-')}, {TRUST_VARIABLES[name]})"
        try:
            data = user_file(path, what)
            # A list file is read as the revocation check reads it: within its cap, in linear time.
            found = ({label} if lists_in(data) else set()) if name == "crlfile" else {
                block for block, _, _ in pem.unarmor(data, multiple=True)}
        except ValueError:
            found = set()
        except Refused as refusal:
            raise Differs(f"{what} {refusal}") from None
        if label not in found:
            raise Differs(f"{what} is not PEM: it holds no \"-----BEGIN {label}-----\" block")


def pinned_fingerprints():
    path = os.environ.get("ARGB_RELEASE_SIGNERS") or PINNED_SIGNERS
    what = f"the pins file {path}"
    try:
        text = user_file(path, what).decode("utf-8")
    except UnicodeDecodeError as error:
        raise Differs(f"{what} is not UTF-8 (byte {error.start})") from None
    pins = set()
    for number, line in enumerate(text.splitlines(), 1):
        fingerprint = line.split("#", 1)[0].strip().replace(":", "").lower()
        if fingerprint and not re.fullmatch(r"[0-9a-f]{64}", fingerprint):
            raise Differs(f"{what} line {number} is not a SHA-256 fingerprint")
        pins.add(fingerprint)
    return path, pins - {""}


def osslsigncode(*argv):
    try:
        return subprocess.run(["osslsigncode"] + list(argv), capture_output=True, text=True,
                              errors="replace", timeout=OSSLSIGNCODE_TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Differs(f"osslsigncode {argv[0]} did not end within {OSSLSIGNCODE_TIMEOUT} s") \
            from None


def reason(result):
    """osslsigncode's own words for a failed verification: its last message of its own, else the
    reason of OpenSSL's last error, else the first line of its report that names a fault."""
    own = [line.strip() for line in result.stderr.splitlines()
           if line.strip() and not OPENSSL_ERROR.match(line)]
    errors = [OPENSSL_ERROR.match(line) for line in result.stderr.splitlines()
              if OPENSSL_ERROR.match(line)]
    told = [line.strip() for line in result.stdout.splitlines()
            if re.search(r"mismatch|Error:|CRL|: failed", line)]
    if own:
        return own[-1]
    if errors:
        return ": ".join(part for part in errors[-1].groups() if part)
    return told[0] if told else "osslsigncode gives no reason"


def fingerprint(certificate):
    """The SHA-256 of the certificate's own bytes, as the maker pins it."""
    return hashlib.sha256(certificate.dump()).hexdigest()


def issuer_key(issuer, where):
    """The issuer's public key, loaded from its own SubjectPublicKeyInfo bytes."""
    try:
        key = serialization.load_der_public_key(
            issuer["tbs_certificate"]["subject_public_key_info"].dump())
    except (ValueError, exceptions.UnsupportedAlgorithm):
        key = None
    if not isinstance(key, (rsa.RSAPublicKey, ec.EllipticCurvePublicKey)):
        raise Differs(f"{where}: the key of the certificate of {subject(issuer)} cannot be read: "
                      f"it is not an RSA or EC key that python3-cryptography loads")
    return key


def issued_by(certificate, issuer, where):
    """Whether the issuer's key signed the certificate's own tbsCertificate bytes, its name naming
    the issuer. Only these bytes are signed, so none of them is read again or re-encoded."""
    if certificate.issuer != issuer.subject:
        return False
    key, algorithm = issuer_key(issuer, where), certificate["signature_algorithm"]
    try:
        digest = CERTIFICATE_HASHES[algorithm.hash_algo]()
        kind = algorithm.signature_algo
    except (KeyError, ValueError):
        kind = None
    if kind not in ("rsassa_pkcs1v15", "ecdsa") or (kind == "ecdsa") != isinstance(
            key, ec.EllipticCurvePublicKey):
        raise Differs(f"{where}: the certificate of {subject(certificate)} is signed with "
                      f"{shortened(algorithm['algorithm'].dotted)}, which this check does not "
                      f"verify with its issuer's key")
    method = (ec.ECDSA(digest),) if kind == "ecdsa" else (padding.PKCS1v15(), digest)
    try:
        key.verify(certificate["signature_value"].native, certificate["tbs_certificate"].dump(),
                   *method)
    except exceptions.InvalidSignature:
        return False
    return True


def named_signer(signer_info, certificates, where):
    """The one certificate that the SignerInfo names, by issuer and serial or by key identifier."""
    sid = signer_info["sid"]
    if sid.name == "issuer_and_serial_number":
        issuer, serial = sid.chosen["issuer"].dump(), sid.chosen["serial_number"].native
        named = [certificate for certificate in certificates
                 if certificate.issuer.dump() == issuer and certificate.serial_number == serial]
    else:
        named = [certificate for certificate in certificates
                 if certificate.key_identifier == sid.chosen.native]
    if not named:
        raise Differs(f"{where} names a signer whose certificate it does not carry")
    return named[0]


def trusted_path(signer, certificates, anchors, where):
    """The signer's path as far as the user's trust reaches: up through the certificates carried to
    the first one that a certificate of the CA file (`anchors`) issued, then that one as the file
    holds it. Beside the path a signature may carry exact copies of its members or of the file's
    certificates, nothing else: whatever sits above the trusted certificate was never judged by
    anyone the user trusts, and its bytes would ride along. Returns the path and its anchor (None
    where no certificate of the file is reached; osslsigncode then speaks first)."""
    path, anchor = [signer], None
    while True:
        anchor = next((held for held in anchors if issued_by(path[-1], held, where)), None)
        if anchor is not None or issued_by(path[-1], path[-1], where):
            break
        # Never one already on the path: certificates that sign each other would loop.
        issuer = next((certificate for certificate in certificates
                       if all(member.dump() != certificate.dump() for member in path) and
                       issued_by(path[-1], certificate, where)), None)
        if issuer is None:
            break
        path.append(issuer)
    path += [anchor] if anchor is not None else []
    kept = {certificate.dump() for certificate in path + list(anchors)}
    strays = [certificate for certificate in certificates if certificate.dump() not in kept]
    claims = {id(stray) for stray in strays for held in anchors if held.subject == stray.subject
              and held.public_key.dump() == stray.public_key.dump()}
    # One trusted certificate's name and key certified by another (the cross-certificate between
    # two roots of the file that Certum's tokens carry): a trusted key signed its every byte.
    crossed = {id(stray) for stray in strays if id(stray) in claims and any(
        issued_by(stray, held, where) for held in anchors)}
    strays = [stray for stray in strays if id(stray) not in crossed]
    # What issued the trusted certificate, or one that claims to be it, and so on upward.
    tops = [anchor] * (anchor is not None) + [stray for stray in strays if id(stray) in claims]
    above = set()
    for top in tops:
        for stray in strays:
            if id(stray) not in above | claims and issued_by(top, stray, where):
                above.add(id(stray))
                tops.append(stray)
    # A claim to be a trusted certificate tells the most, whatever the order carried.
    for stray in sorted(strays, key=lambda stray: (id(stray) not in claims, id(stray) not in above)):
        if id(stray) in claims:
            raise Differs(f"{where} carries a certificate of {subject(stray)} issued by "
                          f"{written(stray.issuer)} that claims the name and key of a trusted one "
                          f"but is not its bytes")
        if id(stray) in above:
            raise Differs(f"{where} carries the certificate of {subject(stray)} above the trusted "
                          f"{subject(tops[0])}: a signature's certificates end at the CA file's")
        raise Differs(f"{where} carries the certificate of {subject(stray)} off its signer path: "
                      f"a signature holds its signer's certificate and those above it up to the "
                      f"CA file's")
    return path, anchor


def der_set(set_type, members):
    """A SET OF in the order given, each member in DER. DER would sort it, but the order of exactly
    the right members carries nothing, and signing tools differ in it."""
    return set_type(contents=b"".join(member.dump(force=True) for member in members))


def certificate_set(choices):
    """The certificates in the order released, each its own bytes: a certificate counts as its
    issuer signed it, and an attribute certificate keeps its choice tag. What surrounds the signed
    part is DER (enveloped())."""
    # Tagged as SignedData holds it, so that it is never copied, read and written again there.
    return cms.CertificateSet(contents=b"".join(choice.dump() for choice in choices), implicit=0)


def without_payload(identifier):
    """An algorithm identifier as a signature needs it: its OID, parameters NULL or absent."""
    algorithm = core.ObjectIdentifier(identifier["algorithm"].dotted).dump()
    # Read from the bytes: a parameter of the wrong type must not stop the rebuild.
    null = identifier.contents[len(algorithm):] == core.Null().dump()
    return type(identifier).load(core.Sequence(
        contents=algorithm + (core.Null().dump() if null else b"")).dump())


def rebuilt_signer_info(signer, certificate, unsigned=None):
    """The SignerInfo made of what the key signed: the attributes, the value, the signer's name
    (the certificate's, or without one the SignerInfo's own, written again)."""
    sid = signer["sid"]
    if sid.name == "issuer_and_serial_number":
        issuer = certificate.issuer if certificate else sid.chosen["issuer"]
        serial = certificate.serial_number if certificate else sid.chosen["serial_number"].native
        version, sid = "v1", {"issuer_and_serial_number": {
            "issuer": x509.Name.load(issuer.dump(force=True)), "serial_number": serial}}
    else:
        version, sid = "v3", {"subject_key_identifier": certificate.key_identifier if certificate
                              else sid.chosen.native}
    fields = {"version": version, "sid": sid,
              "digest_algorithm": without_payload(signer["digest_algorithm"]),
              "signed_attrs": der_set(cms.CMSAttributes, signer["signed_attrs"]),
              "signature_algorithm": without_payload(signer["signature_algorithm"]),
              "signature": signer["signature"].native}
    if unsigned:
        fields["unsigned_attrs"] = unsigned
    return cms.SignerInfo(fields)


def read_whole(where, parts):
    """Each part read to its last byte now, so that bytes no library can read are named by their
    part, never met later in a library's words."""
    for name, part in parts:
        try:
            part.native
        except READING_FAULTS:
            raise Differs(f"{where}'s {name} cannot be read") from None


def enveloped(choice):
    """Whether the bytes around the part its issuer signed are DER: the signed part, the algorithm
    it names, the signature value, each once, so that nothing unsigned rides along in them."""
    value = choice.chosen
    signed, value_type = value[0], type(value[2])
    inner = signed.dump() + signed["signature"].dump() + value_type(value[2].native).dump()
    own = choice.dump()
    return own == own[:1] + core.Sequence(contents=inner).dump()[1:]


def holds(attribute, certificate):
    """Whether the attribute certificate's holder names the certificate: every form it gives (its
    issuer and serial, its subject, its digest) names it, and it gives one."""
    holder, named = attribute["ac_info"]["holder"], []
    base, names, digest = (holder[name] for name in ("base_certificate_id", "entity_name",
                                                     "object_digest_info"))
    if base.native is not None:
        named.append(base["serial"].native == certificate.serial_number and any(
            name.chosen == certificate.issuer for name in base["issuer"]
            if name.name == "directory_name"))
    if names.native is not None:
        named.append(any(name.chosen == certificate.subject for name in names
                         if name.name == "directory_name"))
    if digest.native is not None:
        try:
            named.append(digest["digested_object_type"].native == "public_key_cert" and
                         digest["object_digest"].native == hashlib.new(
                             digest["digest_algorithm"]["algorithm"].native,
                             certificate.dump()).digest())
        except ValueError:
            named.append(False)
    return bool(named) and all(named)


# The kinds of certificate a SignedData may hold besides X.509, as a refusal names them.
OTHER_KINDS = {"extended_certificate": "an extended (PKCS#6) certificate",
               "v1_attr_cert": "a version 1 attribute certificate",
               "v2_attr_cert": "an attribute certificate",
               "other": "a certificate of another format"}


def carried(signed_data, where, attributes=0):
    """The certificate choices of a SignedData, refused above the cap before any is read, each read
    whole: X.509 certificates, and at most `attributes` attribute certificates of at most
    ATTRIBUTE_CERTIFICATE_CAP bytes."""
    count = len(signed_data["certificates"] or [])
    if count > MAX_CERTIFICATES:
        raise Differs(f"{where} carries {count} certificates, more than the {MAX_CERTIFICATES} "
                      f"a chain has")
    choices = list(signed_data["certificates"] or [])
    read_whole(where, ((f"certificate {number}", choice)
                       for number, choice in enumerate(choices, 1)))
    others = [choice.name for choice in choices if choice.name != "certificate"]
    kind = next((kind for kind in others if kind != "v2_attr_cert"), None)
    if kind or len(others) > attributes:
        kind = OTHER_KINDS[kind] if kind else OTHER_KINDS["v2_attr_cert"] if len(
            others) == 1 else f"{len(others)} attribute certificates"
        raise Differs(f"{where} carries {kind}: a signature holds X.509 certificates" + (
            ", and its time-stamp at most one attribute certificate that names its authority"
            if attributes else ""))
    for number, choice in enumerate(choices, 1):
        if choice.name != "certificate" and len(choice.dump()) > ATTRIBUTE_CERTIFICATE_CAP:
            raise Differs(f"{where} carries an attribute certificate of {len(choice.dump())} "
                          f"bytes, more than {ATTRIBUTE_CERTIFICATE_CAP}")
        if not enveloped(choice):
            raise Differs(f"{where}'s certificate {number} is not DER around what its issuer "
                          f"signed")
    return choices


def signer_parts(signer, where):
    """The parts of a SignerInfo that the judge reads beyond their bytes; the signed attributes and
    the content are signed and taken as bytes, the time-stamp token is read as a part of its own."""
    try:
        return [(f"signer's {name.replace('_', ' ')}", signer[name])
                for name in ("sid", "digest_algorithm", "signature_algorithm", "signature")]
    except READING_FAULTS:
        raise Differs(f"{where}'s signer info cannot be read") from None


def bounded(signed_data, where):
    """Refuses, from the headers alone, the counts that no real signature has: one digest
    algorithm, one SignerInfo, at most one unsigned attribute, certificates of a real size."""
    algorithms, signers = len(signed_data["digest_algorithms"]), len(signed_data["signer_infos"])
    if algorithms > 1:
        raise Differs(f"{where} lists {algorithms} digest algorithms, not one")
    if signers != 1:
        raise Differs(f"{where} has {signers} signers, not one")
    unsigned = len(signed_data["signer_infos"][0]["unsigned_attrs"] or [])
    if unsigned > 1:
        raise Differs(f"{where} carries {unsigned} unauthenticated attributes, not at most one "
                      f"time-stamp")
    for choice in signed_data["certificates"] or []:
        if len(choice.contents) > CERTIFICATE_CAP:
            raise Differs(f"{where} carries a certificate of {len(choice.contents)} bytes, more "
                          f"than the {CERTIFICATE_CAP} of a real one")


class Token:
    """An RFC 3161 time-stamp token: a signature of its own over its TSTInfo."""

    def __init__(self, attribute, where):
        self.where = f"{where}: its time-stamp"
        try:
            info = cms.ContentInfo.load(attribute["values"][0].dump(), strict=True)
            self.signed_data = info["content"]
            if info["content_type"].native != "signed_data" or \
                    self.signed_data["encap_content_info"]["content_type"].dotted != TST_INFO:
                raise ValueError
            bounded(self.signed_data, self.where)
            self.choices = carried(self.signed_data, self.where, attributes=1)
            self.content = self.signed_data["encap_content_info"]["content"].__bytes__()
            tsp.TSTInfo.load(self.content, strict=True)
            if not len(self.signed_data["digest_algorithms"]):
                raise ValueError("no digest algorithm")
            self.signers = self.signed_data["signer_infos"]
            signers = len(self.signers)
        except READING_FAULTS:
            raise Differs(f"{self.where} is not one RFC 3161 token") from None
        if signers != 1:
            raise Differs(f"{self.where} has {signers} signers, not one")
        read_whole(self.where, [("TSTInfo", tsp.TSTInfo.load(self.content)),
                                *signer_parts(self.signers[0], self.where)])
        # OpenSSL's PKCS#7, which osslsigncode reads a token with, knows no other signer name.
        if self.signers[0]["sid"].name != "issuer_and_serial_number":
            raise Differs(f"{self.where} names its signer by key identifier, which osslsigncode "
                          f"cannot read: a token names its signer by issuer and serial")
        # osslsigncode finds the authority's certificate in the token alone, never in the user's
        # file: a token without it would fail there with "signer certificate not found".
        if not self.choices:
            raise Differs(f"{self.where} carries no certificate of its authority; osslsigncode "
                          f"verifies only a token that carries its signer's certificate")
        self.certificates = [choice.chosen for choice in self.choices
                             if choice.name == "certificate"]
        self.signer = named_signer(self.signers[0], self.certificates, self.where)
        self.attribute = next((choice for choice in self.choices
                               if choice.name != "certificate"), None)
        if self.attribute and not holds(self.attribute.chosen, self.signer):
            raise Differs(f"{self.where} carries an attribute certificate whose holder is not its "
                          f"signer {subject(self.signer)}")

    def rebuilt(self):
        signer = self.signers[0]
        fields = {
            "version": "v3",
            "digest_algorithms": der_set(cms.DigestAlgorithms, [without_payload(
                self.signed_data["digest_algorithms"][0])]),
            "encap_content_info": {"content_type": TST_INFO,
                                   "content": core.ParsableOctetString(self.content)},
            "signer_infos": [rebuilt_signer_info(signer, self.signer)],
            "certificates": certificate_set(self.choices)}
        return cms.ContentInfo({"content_type": "signed_data",
                                "content": cms.SignedData(fields)})

    def unsigned_attributes(self):
        """The signer's unsigned attributes holding the rebuilt token, made of bytes and tagged as
        the SignerInfo holds them: asn1crypto would copy parsed values there and write an
        attribute certificate's [1] choice again as [2]."""
        attribute = core.Sequence(contents=core.ObjectIdentifier(RFC3161_TIMESTAMP).dump() +
                                  core.Set(contents=self.rebuilt().dump()).dump())
        return cms.CMSAttributes(contents=attribute.dump(), implicit=1)


def security_directory(program):
    """Where the PE's security directory lies: the fifth data directory, after PE32's or PE32+'s
    own fields of the optional header."""
    header = struct.unpack_from("<I", program, 0x3C)[0] + 24
    return header + (96 if struct.unpack_from("<H", program, header)[0] == 0x10B else 112) + 4 * 8


def certificate_entries(program):
    """The offset and dwLength of each signature entry of the program's certificate table, read from
    its headers alone and no further than SIGNATURE_CAP bytes into the table, so that no table is
    slow to count."""
    try:
        at, size = struct.unpack_from("<II", program, security_directory(program))
    except struct.error:
        return []
    entries, end = [], min(at + size, len(program), at + SIGNATURE_CAP)
    while at + CERTIFICATE_ENTRY.size <= end:
        length, *kind = CERTIFICATE_ENTRY.unpack_from(program, at)
        if length < CERTIFICATE_ENTRY.size:
            break
        if tuple(kind) == SIGNED_DATA_ENTRY:
            entries.append((at, length))
        at += length + -length % 8
    return entries


def shaped(signed_data, where):
    """The signatures refused by design, named from their identifiers before any count speaks: a
    digest other than SHA-256, a nested second signature, a legacy time-stamp, an attribute
    certificate beside the signer's."""
    signers = list(signed_data["signer_infos"])[:1]
    digests = [algorithm["algorithm"].native for algorithm in [
        *signed_data["digest_algorithms"], *(signer["digest_algorithm"] for signer in signers)]]
    types = [attribute["type"].dotted for signer in signers
             for attribute in signer["unsigned_attrs"] or []]
    wrong = [digest for digest in digests if digest != "sha256"]
    if wrong:
        raise Differs(f"{where} digests with {shortened(wrong[0])}, not SHA-256")
    if NESTED_SIGNATURE in types:
        raise Differs(f"{where} carries a nested second signature; a release carries one")
    if LEGACY_TIMESTAMP in types:
        raise Differs(f"{where} carries an Authenticode (legacy) time-stamp, which this check does "
                      f"not judge: time-stamp with RFC 3161 (signtool /tr, osslsigncode -ts)")
    if any(choice.name.endswith("attr_cert") for choice in signed_data["certificates"] or []):
        raise Differs(f"{where} carries an attribute certificate outside its time-stamp: a "
                      f"signature holds X.509 certificates")


def structure(der, where):
    """The signature's SignedData, its certificates, content and time-stamp token (or None), with
    the refusals that its form alone decides."""
    try:
        info = cms.ContentInfo.load(der, strict=True)
        signed_data = info["content"]
        if info["content_type"].native != "signed_data":
            raise ValueError
        shaped(signed_data, f"{where}: its signature")
        bounded(signed_data, f"{where}: its signature")
        certificates = [choice.chosen for choice in carried(signed_data, f"{where}: its signature")]
        content = signed_data["encap_content_info"]["content"].parsed.untag()
        signers = signed_data["signer_infos"]
        if not len(signed_data["digest_algorithms"]):
            raise ValueError("no digest algorithm")
        unauthenticated = [attribute for signer in signers
                           for attribute in signer["unsigned_attrs"] or []]
        types = [attribute["type"].dotted for attribute in unauthenticated]
        values = sum(len(attribute["values"]) for attribute in unauthenticated)
    except READING_FAULTS:
        raise Differs(f"{where}: its signature is not one PKCS#7 SignedData") from None
    if len(signers) != 1:
        raise Differs(f"{where}: its signature has {len(signers)} signers, not one")
    read_whole(f"{where}: its signature", signer_parts(signers[0], f"{where}: its signature"))
    added = [oid for oid in types if oid != RFC3161_TIMESTAMP]
    if added:
        raise Differs(f"{where}: its signature carries the unauthenticated attribute "
                      f"{shortened(added[0])}, not a time-stamp")
    if len(types) > 1 or values != len(types):
        raise Differs(f"{where}: its signature carries {values} time-stamps in {len(types)} "
                      f"attributes, not at most one")
    token = Token(unauthenticated[0], where) if types else None
    return signed_data, certificates, content, token


def rebuilt_signature(signed_data, content, certificates, leaf, token):
    """The signature made of the signer's parts alone, in the one form a SHA-256 Authenticode
    signature by the leaf takes, its time-stamp token likewise."""
    unsigned = None
    if token:
        unsigned = token.unsigned_attributes()
    fields = {
        "version": "v1",
        "digest_algorithms": der_set(cms.DigestAlgorithms,
                                     [without_payload(signed_data["digest_algorithms"][0])]),
        "encap_content_info": {"content_type": SPC_INDIRECT_DATA,
                               "content": core.Sequence(contents=content.contents, explicit=0)},
        "signer_infos": [rebuilt_signer_info(signed_data["signer_infos"][0], leaf, unsigned)]}
    if certificates:
        fields["certificates"] = certificate_set(certificates)
    return cms.SignedData(fields)


def encoded(signed_data):
    return cms.ContentInfo({"content_type": "signed_data", "content": signed_data}).dump()


def attach(signed_data, unsigned, work, length):
    """The program with the signature attached (osslsigncode writes it even where it does not
    verify, and nothing where it cannot), its entry's dwLength the released `length`: padded to 8
    bytes as osslsigncode and signtool write it, or the signature's own as sbsign does, which
    Secure Boot's loaders accept. The padding stays osslsigncode's, and the PE checksum is computed
    for the layout, so no byte of either is the release's choice."""
    signature, program = os.path.join(work, "attach.p7"), os.path.join(work, "attached.exe")
    with open(signature, "wb") as file:
        file.write(encoded(signed_data))
    if os.path.exists(program):
        os.remove(program)
    osslsigncode("attach-signature", "-sigin", signature, "-in", unsigned, "-out", program)
    if not os.path.exists(program):
        return None
    data, entries = bytearray(contents(program)), certificate_entries(contents(program))
    if len(entries) != 1 or length != CERTIFICATE_ENTRY.size + len(encoded(signed_data)) or \
            entries[0][1] == length:
        return bytes(data)
    struct.pack_into("<I", data, entries[0][0], length)
    return with_checksum(data)


def first_difference(released, rebuilt, owner="its"):
    """The name of the first field of the released SignedData that the rebuilt one lacks."""
    for name in ("version", "digest_algorithms", "encap_content_info", "certificates", "crls"):
        if released[name].dump() != rebuilt[name].dump():
            return f"{owner} {name.replace('_', ' ')}"
    signer, own = released["signer_infos"][0], rebuilt["signer_infos"][0]
    name = next((name for name in own if signer[name].dump() != own[name].dump()), None)
    if name == "unsigned_attrs" and own[name]:
        try:
            return first_difference(signer[name][0]["values"][0]["content"],
                                    own[name][0]["values"][0]["content"], "its time-stamp's")
        except (ValueError, TypeError, KeyError, IndexError):
            pass
    return f"{owner} signer's {name.replace('_', ' ')}" if name else f"{owner} encoding"


def check_key_usage(signer, where):
    """A certificate that states its key usage must allow digital signatures to sign code."""
    usage = signer.key_usage_value
    if usage is not None and "digital_signature" not in usage.native:
        raise Differs(f"{where}: its signer {subject(signer)} may not sign: its key usage is "
                      f"{', '.join(sorted(usage.native))}, without digitalSignature")


def trusted(path):
    """The certificates of a CA file, the system's bundle where none is named."""
    blocks = pem.unarmor(user_file(path or SYSTEM_CA_FILE, f"the CA file {path}"), multiple=True)
    return [x509.Certificate.load(der) for kind, _, der in blocks if kind == "CERTIFICATE"]


def unanchored(anchor, where, cafile):
    """osslsigncode refuses a path that reaches no certificate of the CA file, in its own words;
    this holds where it does not."""
    if anchor is None:
        raise Differs(f"{where}: its signer's path reaches no certificate of the CA file {cafile}")


def check_revocation(path, token, trust, where):
    """Every certificate of the signer's trusted path and of the time-stamp authority's, up to
    their anchors in the CA files, judged against its issuer's revocation list at the time-stamp's
    time. Only these: a list named by a certificate off them is never fetched."""
    paths, at = [(f"{where}: its signature", path)], None
    if token:
        paths.append((token.where, token.path))
        at = tsp.TSTInfo.load(token.content)["gen_time"].native
    try:
        judge_revocation(paths, at, trust.crlfile)
    except Refused as refusal:
        raise Differs(str(refusal)) from None


def judge_signature(program, rebuilt, where, work, trust):
    """The released program must be the rebuilt one with its signature attached, byte for byte, and
    that signature verified by osslsigncode with a pinned certificate as its signer, and no byte
    more than the rebuilt_signature() of its parts. trust: cafile, timestamp_cafile, crlfile.
    Returns the signer's subject and fingerprint, whether it is time-stamped, and names the token's
    attribute certificate, the one part that no key the user trusts signed."""
    check_trust(trust)
    pins_path, pins = pinned_fingerprints()
    entries = certificate_entries(program)
    if len(entries) > 1:
        raise Differs(f"{where} carries {len(entries)} signatures; a release carries one")
    # The signed program is the rebuilt one, its signature and at most 8 bytes of padding.
    if len(program) - len(rebuilt) > SIGNATURE_CAP + 16:
        raise Differs(f"{where} is {len(program) - len(rebuilt)} bytes longer than the rebuilt "
                      f"one, more than the {SIGNATURE_CAP} a signature may have")
    signed, unsigned = os.path.join(work, "signed.exe"), os.path.join(work, "unsigned.exe")
    signature = os.path.join(work, "signature.p7")
    for path, data in ((signed, program), (unsigned, rebuilt)):
        with open(path, "wb") as file:
            file.write(data)
    # osslsigncode writes no file over one that exists.
    if os.path.exists(signature):
        os.remove(signature)
    osslsigncode("extract-signature", "-in", signed, "-out", signature)
    if not os.path.exists(signature):
        # osslsigncode reads no signature of some shapes refused by design: named from the entry.
        if entries:
            at, length = entries[0]
            try:
                der = cms.ContentInfo.load(program[at + CERTIFICATE_ENTRY.size:at + length]).dump()
            except READING_FAULTS:
                der = None
            if der:
                structure(der, where)
        raise Differs(f"{where} differs from the rebuilt one and carries no signature")
    der = contents(signature)
    signed_data, certificates, content, token = structure(der, where)
    signer = named_signer(signed_data["signer_infos"][0], certificates, f"{where}: its signature")
    path, anchor = trusted_path(signer, certificates, trusted(trust.cafile),
                                f"{where}: its signature")
    check_key_usage(signer, where)
    if token and not trust.timestamp_cafile:
        raise Differs(f"{where}: its signature is time-stamped and no time-stamp authority is "
                      f"trusted: name its CA certificates with --timestamp-cafile "
                      f"(ARGB_RELEASE_TIMESTAMP_CAFILE)")
    if token:
        token.path, token.anchor = trusted_path(token.signer, token.certificates,
                                                trusted(trust.timestamp_cafile), token.where)
    options = [*(["-CAfile", trust.cafile] if trust.cafile else []),
               *(["-TSA-CAfile", trust.timestamp_cafile] if trust.timestamp_cafile else []),
               # Revocation is judged by judge_revocation, along both paths and in bounded time.
               "-ignore-crl"]
    # The signer is the certificate the SignerInfo names: osslsigncode must have verified with it.
    leaf = fingerprint(signer)
    result = osslsigncode("verify", "-in", signed, *options, "-require-leaf-hash", f"sha256:{leaf}")
    if result.returncode != 0:
        raise Differs(f"{where}: its signature does not verify: {reason(result)}")
    unanchored(anchor, f"{where}: its signature", trust.cafile or SYSTEM_CA_FILE)
    if leaf not in pins:
        raise NotPinned(f"{where} is signed by {subject(signer)}, SHA-256 {leaf}, which {pins_path} "
                      f"does not pin")
    if token and TIMESTAMP_VERIFIED not in result.stdout.splitlines():
        raise Differs(f"{where}: its time-stamp does not verify with {trust.timestamp_cafile}: "
                      f"{reason(result)}")
    if token:
        unanchored(token.anchor, token.where, trust.timestamp_cafile)
    rebuilt_data = rebuilt_signature(signed_data, content, certificates, path[0], token)
    if encoded(rebuilt_data) != der:
        raise Differs(f"{where}: its signature holds more than its signer's chain, signed "
                      f"attributes, signature value and time-stamp: "
                      f"{first_difference(signed_data, rebuilt_data)} differs")
    if attach(rebuilt_data, unsigned, work, entries[0][1] if entries else None) != program:
        raise Differs(f"{where} is not the rebuilt program with its signature attached")
    # Last: only a signature that holds is worth the wait for its revocation lists.
    check_revocation(path, token, trust, where)
    # Unsigned bytes are named for what they are: whoever made them named the authority.
    unsigned_part = token and token.attribute
    return f"{subject(signer)} (SHA-256 {leaf}), " + (
        "not time-stamped" if not token else "time-stamped" + (
            f", its token carrying an attribute certificate: {len(unsigned_part.dump())} bytes "
            f"that name the authority as holder, which no key you trust signed"
            if unsigned_part else ""))
