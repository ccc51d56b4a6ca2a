"""The two halves of tools/rebuild-release.sh around its build.

  before <release>            checks the release folder against its SHA256SUMS, its BUILDINFO's
                              commit against this checkout's, and compares the toolchain of its
                              BUILDINFO with this machine's
  compare <release> <rebuilt> compares every file SHA256SUMS lists with the rebuilt one byte for
                              byte; the one byte that may differ is the release program's signature,
                              which must be the maker's (see judge_signature)

A difference ends the run with one line that names it and exit code 1.
"""

import argparse
import hashlib
import io
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

from release_steps import (BUILDINFO, PROGRAM, SUMS, UNSIGNED_LINES, commit_record, contents,
                           debian_version, write_fixed_zip, zip_writer)

CHECKOUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
# The SHA-256 fingerprints of the maker's signing certificates; ARGB_RELEASE_SIGNERS names another
# file of the same form.
PINNED_SIGNERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "release-signers.txt")
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
# A time-stamp only says when the one signature was made.
TIMESTAMPS = {"1.2.840.113549.1.9.6", "1.3.6.1.4.1.311.3.3.1"}


class Differs(Exception):
    pass


def listed(folder):
    """The files SHA256SUMS lists in the folder: name -> hash. Both forms of sha256sum: text
    ("<hash>  name") and binary ("<hash> *name")."""
    names = {}
    with open(os.path.join(folder, SUMS), encoding="ascii", errors="replace") as sums:
        for number, line in enumerate(sums.read().split("\n")[:-1], 1):
            form = re.fullmatch(r"([0-9a-fA-F]{64}) [ *](.+)", line)
            if not form:
                raise Differs(f"{SUMS} line {number} is not \"<SHA-256>  <name>\"")
            digest, name = form.group(1).lower(), form.group(2)
            if "/" in name or "\\" in name or name in (".", ".."):
                raise Differs(f"{SUMS} line {number} names {name}, not a file beside it")
            if name in names:
                raise Differs(f"{SUMS} lists {name} twice")
            names[name] = digest
    return names


def check_folder(release):
    for name, digest in listed(release).items():
        path = os.path.join(release, name)
        if not os.path.isfile(path):
            raise Differs(f"{name}, listed in {SUMS}, is missing from {release}")
        if hashlib.sha256(contents(path)).hexdigest() != digest:
            raise Differs(f"{name} does not match {SUMS}")


def record(release):
    """BUILDINFO's lines as key -> value, None without one."""
    path = os.path.join(release, BUILDINFO)
    if not os.path.exists(path):
        return None
    with open(path, encoding="ascii", errors="replace") as lines:
        return dict(line.rstrip("\n").split(": ", 1) for line in lines if ": " in line)


def check_record(release, checkout):
    """The release must be of the commit this checkout builds, down to "with changes not committed",
    which both sides write alike: such a release is only ever rebuilt from the same changed tree.
    Without a BUILDINFO the release claims no commit; the bytes still decide."""
    values = record(release)
    if values is None:
        return
    here = commit_record(checkout)
    if values.get("commit") != here:
        raise Differs(f"{BUILDINFO} names the commit {values.get('commit', '(none)')}, this "
                      f"checkout is {here}: check out the released commit")
    # The rebuild's SOURCE_DATE_EPOCH.
    if not re.fullmatch(r"[0-9]{1,11}", values.get("source date", "")):
        raise Differs(f"{BUILDINFO}'s source date is not a count of seconds")


def toolchain_differences(release):
    """The lines of the release's BUILDINFO that this machine would write otherwise."""
    values = record(release)
    if values is None:
        return [f"the release has no {BUILDINFO}: which toolchain made it is unknown"]
    differences = []
    for key, value in values.items():
        if key.startswith("Debian package "):
            here = debian_version(key.split()[-1]) or "not installed"
        elif key == "zip writer":
            here = zip_writer()
        else:
            continue  # the commit and the source date belong to the release, not the machine
        if here != value:
            differences.append(f"{key}: {value} made the release, here it is {here}")
    return differences


def has_signature(program):
    """Whether the PE file's certificate table is not empty."""
    try:
        header = struct.unpack_from("<I", program, 0x3C)[0] + 24
        # The security directory, fifth of the data directories (PE32+ or PE32).
        directories = header + (112 if program[header:header + 2] == b"\x0b\x02" else 96)
        return struct.unpack_from("<II", program, directories + 4 * 8) != (0, 0)
    except struct.error:
        return False


def der_items(data, at, end):
    """The DER elements in data[at:end], each (tag, its start, its contents' start, its end)."""
    while at < end:
        if at + 2 > end or data[at] & 0x1F == 0x1F:
            raise ValueError
        tag, length, contents_at = data[at], data[at + 1], at + 2
        if length & 0x80:
            count = length & 0x7F
            # Indefinite or overlong lengths are BER, which a DER signature never holds.
            if not 0 < count <= 4:
                raise ValueError
            length = int.from_bytes(data[contents_at:contents_at + count], "big")
            contents_at += count
        if contents_at + length > end:
            raise ValueError
        yield tag, at, contents_at, contents_at + length
        at = contents_at + length


def children(data, item):
    return list(der_items(data, item[2], item[3]))


def oid(data, item):
    value = data[item[2]:item[3]]
    numbers, number = [], 0
    for byte in value:
        number = number << 7 | byte & 0x7F
        if not byte & 0x80:
            numbers.append(number)
            number = 0
    first = min(numbers[0] // 40, 2)
    return ".".join(map(str, [first, numbers[0] - 40 * first] + numbers[1:]))


def signature_facts(der):
    """Of a PKCS#7 Authenticode signature: the signer certificates' DER, and for each signer its
    unauthenticated attributes' OIDs. ValueError where it is not one DER SignedData."""
    top = list(der_items(der, 0, len(der)))
    if len(top) != 1 or top[0][0] != 0x30:
        raise ValueError
    signed_data = children(der, children(der, children(der, top[0])[1])[0])
    certificates = next((children(der, item) for item in signed_data if item[0] == 0xA0), [])
    signers, unauthenticated = [], []
    for signer in children(der, signed_data[-1]):
        fields = children(der, signer)
        # The signer is named by issuer and serial, as the certificate's own fields hold them.
        issuer_serial = [der[item[1]:item[3]] for item in children(der, fields[1])]
        for certificate in certificates:
            fields_of = children(der, children(der, certificate)[0])
            fields_of = fields_of[1:] if fields_of[0][0] == 0xA0 else fields_of
            if [der[fields_of[2][1]:fields_of[2][3]], der[fields_of[0][1]:fields_of[0][3]]] == \
                    issuer_serial:
                signers.append(der[certificate[1]:certificate[3]])
        attributes = children(der, fields[-1]) if fields[-1][0] == 0xA1 else []
        unauthenticated.append([oid(der, children(der, attribute)[0]) for attribute in attributes])
    return signers, unauthenticated


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
    return subprocess.run(["osslsigncode"] + list(argv), capture_output=True, text=True)


def judge_signature(program, rebuilt, where, work, cafile):
    """The released program must be the rebuilt one with its signature attached, byte for byte, and
    that signature the maker's: its chain verifies, one signer, nothing nested or added but a
    time-stamp, the signer's certificate pinned. Returns the signer's subject and fingerprint."""
    signed, unsigned = os.path.join(work, "signed.exe"), os.path.join(work, "unsigned.exe")
    signature, attached = os.path.join(work, "signature.p7"), os.path.join(work, "attached.exe")
    for path, data in ((signed, program), (unsigned, rebuilt)):
        with open(path, "wb") as file:
            file.write(data)
    ca = ["-CAfile", cafile] if cafile else []
    osslsigncode("extract-signature", "-in", signed, "-out", signature)
    if not os.path.exists(signature):
        raise Differs(f"{where} differs from the rebuilt one and carries no signature")
    verify = osslsigncode("verify", "-in", signed, *ca)
    if verify.returncode != 0:
        raise Differs(f"{where}: its signature does not verify (osslsigncode verify)")
    osslsigncode("attach-signature", "-sigin", signature, *ca, "-in", unsigned, "-out", attached)
    if not os.path.exists(attached) or contents(attached) != program:
        raise Differs(f"{where} is not the rebuilt program with its signature attached")
    der = contents(signature)
    try:
        signers, unauthenticated = signature_facts(der)
    except (ValueError, IndexError):
        raise Differs(f"{where}: its signature is not one DER PKCS#7 signature") from None
    if len(unauthenticated) != 1:
        raise Differs(f"{where}: its signature has {len(unauthenticated)} signers, not one")
    if len(signers) != 1:
        raise Differs(f"{where}: its signature does not hold its signer's certificate once")
    if NESTED_SIGNATURE in unauthenticated[0]:
        raise Differs(f"{where}: its signature carries a nested second signature")
    added = [attribute for attribute in unauthenticated[0] if attribute not in TIMESTAMPS]
    if added:
        raise Differs(f"{where}: its signature carries the unauthenticated attribute {added[0]}, "
                      f"not a time-stamp")
    fingerprint = hashlib.sha256(signers[0]).hexdigest()
    subject = subprocess.run(["openssl", "x509", "-inform", "DER", "-noout", "-subject",
                              "-nameopt", "compat"], input=signers[0], capture_output=True)
    subject = subject.stdout.decode("utf-8", "replace").strip().partition("=")[2] or "(unknown)"
    path, pins = pinned_fingerprints()
    if fingerprint not in pins:
        raise Differs(f"{where} is signed by {subject}, SHA-256 {fingerprint}, which {path} does "
                      f"not pin")
    return f"{subject} (SHA-256 {fingerprint})"


def describe(expected, released):
    """Where the released zip leaves the form that its entries make here."""
    if released.endswith(expected):
        return f"{len(released) - len(expected)} bytes put in front of it"
    if released.startswith(expected):
        return f"{len(released) - len(expected)} bytes after its end record"
    at = next((index for index, (one, other) in enumerate(zip(expected, released)) if one != other),
              min(len(expected), len(released)))
    with zipfile.ZipFile(io.BytesIO(expected)) as package:
        entries = package.infolist()
        central = package.start_dir
    end_record = expected.rindex(b"PK\x05\x06")
    if at >= end_record:
        return f"a difference in its end record (byte {at})"
    if at >= central:
        # The package's own records have no extra field or comment.
        record_ends = [central + sum(46 + len(entry.filename) for entry in entries[:index + 1])
                       for index in range(len(entries))]
        entry = entries[sum(1 for end in record_ends if end <= at)]
        return f"a difference in the central directory record of {entry.filename} (byte {at})"
    entry = [entry for entry in entries if entry.header_offset <= at][-1]
    header_end = entry.header_offset + 30 + len(entry.filename) + len(entry.extra)
    part = "local header" if at < header_end else "compressed data"
    return f"a difference in the {part} of {entry.filename} (byte {at})"


def compare_zip(name, released, rebuilt, cafile):
    """Entry by entry, then the whole zip written again from those entries; returns the signers of
    its program."""
    with zipfile.ZipFile(released) as release_zip, zipfile.ZipFile(rebuilt) as rebuilt_zip:
        if release_zip.namelist() != rebuilt_zip.namelist():
            raise Differs(f"{name} holds {', '.join(release_zip.namelist())}; the rebuild holds "
                          f"{', '.join(rebuilt_zip.namelist())}")
        rebuilt_entries = {entry: rebuilt_zip.read(entry) for entry in rebuilt_zip.namelist()}
        try:
            released_entries = {entry: release_zip.read(entry) for entry in release_zip.namelist()}
        except (zipfile.BadZipFile, zlib.error, NotImplementedError, RuntimeError, ValueError,
                EOFError) as error:
            raise Differs(f"{name} cannot be read: {error}") from None
        # BUILDINFO's source date, which the rebuild takes.
        date_time = rebuilt_zip.infolist()[0].date_time
        if {entry.date_time for entry in release_zip.infolist()} != {date_time}:
            raise Differs(f"{name}: the times of its entries are not the rebuilt ones")
    signers = []
    expected = dict(rebuilt_entries)
    program = released_entries.get(PROGRAM)
    # The one program the build signs; the guide then lacks its unsigned note.
    if program is not None and program != rebuilt_entries[PROGRAM]:
        with tempfile.TemporaryDirectory() as work:
            signers.append(judge_signature(program, rebuilt_entries[PROGRAM],
                                           f"{PROGRAM} in {name}", work, cafile))
        expected[PROGRAM] = program
        expected["README.txt"] = expected["README.txt"].replace(UNSIGNED_LINES.encode("ascii"), b"",
                                                                1)
    for entry, data in released_entries.items():
        if data != expected[entry]:
            if entry.endswith((".exe", ".dll")) and has_signature(data):
                raise Differs(f"{entry} in {name} carries a signature; the build never signs it")
            raise Differs(f"{entry} in {name} differs from the rebuilt one")
    # Nothing but the entries: no comment, extra field, gap, hidden entry or other compression.
    again = io.BytesIO()
    write_fixed_zip(again, expected.items(), date_time)
    release_bytes = contents(released)
    if again.getvalue() != release_bytes:
        raise Differs(f"{name} is not the zip its entries make: "
                      f"{describe(again.getvalue(), release_bytes)}")
    return signers


def compare(release, rebuilt, cafile):
    # BUILDINFO is a record, compared before the build.
    names, rebuilt_names = set(listed(release)) - {BUILDINFO}, set(listed(rebuilt)) - {BUILDINFO}
    if names != rebuilt_names:
        raise Differs(f"{SUMS} lists {', '.join(sorted(names))}; the rebuild makes "
                      f"{', '.join(sorted(rebuilt_names))}")
    outputs, signed = sorted(names), []
    for name in outputs:
        ours, theirs = os.path.join(release, name), os.path.join(rebuilt, name)
        if name.endswith(".zip"):
            signed += [f"{name} signed by {signer}"
                       for signer in compare_zip(name, ours, theirs, cafile)]
        elif contents(ours) != contents(theirs):
            raise Differs(f"{name} differs from the rebuilt one")
    if signed:
        print(f"The release is the rebuild, signed: {'; '.join(signed)}")
    else:
        print(f"The rebuild is identical to the release: {', '.join(outputs)}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("step", choices=("before", "compare"))
    parser.add_argument("release")
    parser.add_argument("rebuilt", nargs="?")
    parser.add_argument("--cafile", help="the certificates a signature must chain to (default: "
                                         "osslsigncode's, the system's bundle)")
    args = parser.parse_args()
    try:
        if args.step == "before":
            check_folder(args.release)
            check_record(args.release, CHECKOUT)
            for difference in toolchain_differences(args.release):
                print(f"{BUILDINFO}: {difference}; a difference in the result is then expected.")
        else:
            compare(args.release, args.rebuilt, args.cafile)
    except (Differs, OSError, zipfile.BadZipFile) as error:
        print(f"The rebuild check fails: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
