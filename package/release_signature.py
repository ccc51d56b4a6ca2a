"""The release check's judgement of the program's Authenticode signature (see judge_signature).

osslsigncode verifies; asn1crypto reads the PKCS#7 structure and builds it again from the parts that
the signer's key signed, so that nothing else can ride along in the released bytes.
"""

import hashlib
import os
import re
import subprocess

from asn1crypto import cms, core

from release_steps import contents

# The SHA-256 fingerprints of the maker's signing certificates; ARGB_RELEASE_SIGNERS names another
# file of the same form.
PINNED_SIGNERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "release-signers.txt")
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
# A time-stamp only says when the one signature was made: RFC 3161, and Authenticode's own.
TIMESTAMPS = {"1.3.6.1.4.1.311.3.3.1", "1.2.840.113549.1.9.6"}
TIMESTAMP_VERIFIED = "Timestamp Server Signature verification: ok"
# An OpenSSL error line: id:error:code:library:function:reason:file:line:data
OPENSSL_ERROR = re.compile(r"[0-9A-F]+:error:[0-9A-F]+:[^:]*:[^:]*:([^:]*):[^:]*:[^:]*:?(.*)")


class Differs(Exception):
    pass


def pinned_fingerprints():
    path = os.environ.get("ARGB_RELEASE_SIGNERS") or PINNED_SIGNERS
    pins = set()
    with open(path, encoding="utf-8") as pinned:
        for number, line in enumerate(pinned, 1):
            fingerprint = line.split("#", 1)[0].strip().replace(":", "").lower()
            if fingerprint and not re.fullmatch(r"[0-9a-f]{64}", fingerprint):
                raise Differs(f"{path} line {number} is not a SHA-256 fingerprint")
            pins.add(fingerprint)
    return path, pins - {""}


def osslsigncode(*argv):
    return subprocess.run(["osslsigncode"] + list(argv), capture_output=True, text=True,
                          errors="replace")


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


def subject(certificate):
    result = subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-subject",
                             "-nameopt", "compat"], input=certificate, capture_output=True)
    return result.stdout.decode("utf-8", "replace").strip().partition("=")[2] or "(unknown)"


def without_payload(identifier):
    """An algorithm identifier as a signature needs it: its OID, parameters NULL or absent."""
    fields = {"algorithm": identifier["algorithm"].dotted}
    if identifier["parameters"].dump() == core.Null().dump():
        fields["parameters"] = core.Null()
    return type(identifier)(fields)


def rebuilt_signature(signed_data, content, certificates, leaf):
    """The signature made of the signer's parts alone: the certificates given, the signed
    attributes in DER order, the signature value and the one time-stamp, everything else in the
    one form a SHA-256 Authenticode signature by the leaf takes."""
    signer = signed_data["signer_infos"][0]
    signed_attributes = sorted(attribute.dump(force=True) for attribute in signer["signed_attrs"])
    fields = {
        "version": "v1",
        "sid": {"issuer_and_serial_number": {"issuer": leaf["tbs_certificate"]["issuer"],
                                             "serial_number": leaf.serial_number}},
        "digest_algorithm": without_payload(signer["digest_algorithm"]),
        "signed_attrs": [cms.CMSAttribute.load(attribute) for attribute in signed_attributes],
        "signature_algorithm": without_payload(signer["signature_algorithm"]),
        "signature": signer["signature"]}
    # At most one by now (see structure); an empty set of them is left out.
    for timestamp in signer["unsigned_attrs"] or []:
        fields["unsigned_attrs"] = [{"type": timestamp["type"].dotted,
                                     "values": [timestamp["values"][0]]}]
    return cms.SignedData({
        "version": "v1",
        "digest_algorithms": [without_payload(signed_data["digest_algorithms"][0])],
        "encap_content_info": {"content_type": SPC_INDIRECT_DATA,
                               "content": core.Sequence(contents=content.contents, explicit=0)},
        "certificates": certificates,
        "signer_infos": [fields]})


def encoded(signed_data):
    return cms.ContentInfo({"content_type": "signed_data", "content": signed_data}).dump()


def attach(signed_data, unsigned, work):
    """The program with the signature attached: osslsigncode writes it even where it does not
    verify, and nothing where it cannot."""
    signature, program = os.path.join(work, "attach.p7"), os.path.join(work, "attached.exe")
    with open(signature, "wb") as file:
        file.write(encoded(signed_data))
    if os.path.exists(program):
        os.remove(program)
    osslsigncode("attach-signature", "-sigin", signature, "-in", unsigned, "-out", program)
    return program


def first_difference(released, rebuilt):
    """The name of the first field of the released SignedData that the rebuilt one lacks."""
    for name in ("version", "digest_algorithms", "encap_content_info", "certificates", "crls"):
        if released[name].dump() != rebuilt[name].dump():
            return name.replace("_", " ")
    signer, own = released["signer_infos"][0], rebuilt["signer_infos"][0]
    return next((f"signer's {name.replace('_', ' ')}" for name in own if signer[name].dump() !=
                 own[name].dump()), "encoding")


def structure(der, where):
    """The signature's SignedData with the refusals that its form alone decides."""
    try:
        info = cms.ContentInfo.load(der, strict=True)
        signed_data = info["content"]
        if info["content_type"].native != "signed_data":
            raise ValueError
        certificates = [choice.chosen for choice in signed_data["certificates"]]
        content = signed_data["encap_content_info"]["content"].parsed.untag()
        signers = signed_data["signer_infos"]
        algorithms = [*signed_data["digest_algorithms"]] + [signer["digest_algorithm"]
                                                           for signer in signers]
        digests = [algorithm["algorithm"].native for algorithm in algorithms]
        unauthenticated = [attribute for signer in signers
                           for attribute in signer["unsigned_attrs"] or []]
    except (ValueError, TypeError, KeyError):
        raise Differs(f"{where}: its signature is not one PKCS#7 SignedData") from None
    if len(signers) != 1:
        raise Differs(f"{where}: its signature has {len(signers)} signers, not one")
    wrong = [digest for digest in digests if digest != "sha256"]
    if wrong:
        raise Differs(f"{where}: its signature digests with {wrong[0]}, not SHA-256")
    types = [attribute["type"].dotted for attribute in unauthenticated]
    if NESTED_SIGNATURE in types:
        raise Differs(f"{where}: its signature carries a nested second signature")
    added = [oid for oid in types if oid not in TIMESTAMPS]
    if added:
        raise Differs(f"{where}: its signature carries the unauthenticated attribute {added[0]}, "
                      f"not a time-stamp")
    values = sum(len(attribute["values"]) for attribute in unauthenticated)
    if len(types) > 1 or values != len(types):
        raise Differs(f"{where}: its signature carries {values} time-stamps in {len(types)} "
                      f"attributes, not at most one")
    return signed_data, certificates, content, bool(types)


def judge_signature(program, rebuilt, where, work, trust):
    """The released program must be the rebuilt one with its signature attached, byte for byte, and
    that signature verified by osslsigncode with a pinned certificate as its leaf, and no byte more
    than the rebuilt_signature() of its parts. trust: cafile, timestamp_cafile, crlfile. Returns
    the signer's subject and fingerprint."""
    signed, unsigned = os.path.join(work, "signed.exe"), os.path.join(work, "unsigned.exe")
    signature = os.path.join(work, "signature.p7")
    for path, data in ((signed, program), (unsigned, rebuilt)):
        with open(path, "wb") as file:
            file.write(data)
    osslsigncode("extract-signature", "-in", signed, "-out", signature)
    if not os.path.exists(signature):
        raise Differs(f"{where} differs from the rebuilt one and carries no signature")
    der = contents(signature)
    signed_data, certificates, content, timestamped = structure(der, where)
    if timestamped and not trust.timestamp_cafile:
        raise Differs(f"{where}: its signature is time-stamped and no time-stamp authority is "
                      f"trusted: name its CA certificates with --timestamp-cafile "
                      f"(ARGB_RELEASE_TIMESTAMP_CAFILE)")
    options = [*(["-CAfile", trust.cafile] if trust.cafile else []),
               *(["-TSA-CAfile", trust.timestamp_cafile] if trust.timestamp_cafile else []),
               *(["-CRLfile", trust.crlfile] if trust.crlfile else [])]

    def verify(path, leaf):
        return osslsigncode("verify", "-in", path, *options, "-require-leaf-hash", f"sha256:{leaf}")
    fingerprints = [hashlib.sha256(certificate.dump()).hexdigest() for certificate in certificates]
    pins_path, pins = pinned_fingerprints()
    # The leaf is the certificate whose key osslsigncode verified the signature with.
    verified = next(((pin, result) for pin in sorted(pins)
                     for result in [verify(signed, pin)] if result.returncode == 0), None)
    if verified is None:
        plain = osslsigncode("verify", "-in", signed, *options)
        if plain.returncode != 0:
            raise Differs(f"{where}: its signature does not verify: {reason(plain)}")
        leaf = next((fingerprint for fingerprint in fingerprints
                     if verify(signed, fingerprint).returncode == 0), None)
        name = subject(certificates[fingerprints.index(leaf)].dump()) if leaf else "(unknown)"
        raise Differs(f"{where} is signed by {name}, SHA-256 {leaf}, which {pins_path} does not "
                      f"pin")
    leaf, result = verified
    leaf_certificate = certificates[fingerprints.index(leaf)]
    if timestamped and TIMESTAMP_VERIFIED not in result.stdout.splitlines():
        raise Differs(f"{where}: its time-stamp does not verify with {trust.timestamp_cafile}: "
                      f"{reason(result)}")
    # The chain: the leaf once, each other certificate only if the signature verifies no more
    # without it (so not a root that the CA file holds).
    chain = []
    for certificate, fingerprint in zip(certificates, fingerprints):
        others = [other for other in certificates if other is not certificate]
        if fingerprint != leaf and verify(attach(rebuilt_signature(
                signed_data, content, others, leaf_certificate), unsigned, work), leaf).returncode == 0:
            raise Differs(f"{where}: its signature carries the certificate of "
                          f"{subject(certificate.dump())}, which its signer's chain does not need")
        if certificate.dump() not in [kept.dump() for kept in chain]:
            chain.append(certificate)
    rebuilt_data = rebuilt_signature(signed_data, content, chain, leaf_certificate)
    if encoded(rebuilt_data) != der:
        raise Differs(f"{where}: its signature holds more than its signer's chain, signed "
                      f"attributes, signature value and time-stamp: its "
                      f"{first_difference(signed_data, rebuilt_data)} differs")
    attached = attach(rebuilt_data, unsigned, work)
    if not os.path.exists(attached) or contents(attached) != program:
        raise Differs(f"{where} is not the rebuilt program with its signature attached")
    return f"{subject(leaf_certificate.dump())} (SHA-256 {leaf})"
