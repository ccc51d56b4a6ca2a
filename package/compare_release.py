"""The two halves of tools/rebuild-release.sh around its build.

  before <release>            checks the release folder against its SHA256SUMS, its BUILDINFO's
                              commit against this checkout's, and compares the toolchain of its
                              BUILDINFO with this machine's
  compare <release> <rebuilt> compares every file SHA256SUMS lists with the rebuilt one byte for
                              byte; what may differ is the signatures of the updater and the field
                              check, which must be the maker's (see release_signature.py)

A difference, or any input it cannot read, ends the run with one line that names it and exit code 1.
"""

import argparse
import functools
import hashlib
import io
import os
import re
import stat
import struct
import sys
import tempfile
import zipfile

try:
    from release_signature import Differs, judge_signature, shortened
except ImportError as missing:
    sys.exit(f"The rebuild check fails: {missing} (apt-get install python3-asn1crypto "
             f"python3-cryptography)")
from release_steps import (BUILDINFO, EARLIEST_ZIP_TIME, FIELD_CHECK, LATEST_ZIP_TIME,
                           MOST_RECORDED_PACKAGES, PROGRAM, SUMS, UNSIGNED_LINES, commit_record,
                           debian_version, write_fixed_zip, zip_writer)

CHECKOUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
# No file of a release comes near these sizes: a larger one is refused before it is read.
FILE_CAP = 256 << 20
RECORD_CAP = 64 << 10
# The lines the package writes into BUILDINFO.
RECORD_KEYS = re.compile(r"commit|source date|Debian package [a-z0-9][a-z0-9+.-]*|zip writer")
# A refusal line names what it refuses in a line a terminal shows, not in a page of it.
LINE_CAP = 400


def regular_contents(path, cap):
    """The bytes of a regular file of at most cap bytes; never a link, device or FIFO."""
    name = os.path.basename(path)
    if not stat.S_ISREG(os.lstat(path).st_mode):
        raise Differs(f"{name} is not a regular file")
    # No link and no FIFO even if the file was swapped since.
    with os.fdopen(os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK), "rb") as file:
        if not stat.S_ISREG(os.fstat(file.fileno()).st_mode):
            raise Differs(f"{name} is not a regular file")
        data = file.read(cap + 1)
    if len(data) > cap:
        raise Differs(f"{name} is larger than {cap} bytes")
    return data


def lines(path):
    """The ASCII lines of a release's text file, each ended by a line feed alone."""
    name, data = os.path.basename(path), regular_contents(path, RECORD_CAP)
    if not data.endswith(b"\n"):
        raise Differs(f"{name}'s last line has no line end" if data else f"{name} is empty")
    for number, line in enumerate(data.split(b"\n")[:-1], 1):
        if not re.fullmatch(rb"[ -~]*", line):
            raise Differs(f"{name} line {number} holds a carriage return or another byte that is "
                          f"not printable ASCII")
        yield number, line.decode("ascii")


def listed(folder):
    """The files SHA256SUMS lists in the folder: name -> hash. Both forms of sha256sum: text
    ("<hash>  name") and binary ("<hash> *name")."""
    names = {}
    for number, line in lines(os.path.join(folder, SUMS)):
        form = re.fullmatch(r"([0-9a-f]{64}) [ *](.+)", line)
        if not form:
            raise Differs(f"{SUMS} line {number} is not \"<SHA-256>  <name>\"")
        digest, name = form.groups()
        if "/" in name or "\\" in name or name in (".", ".."):
            raise Differs(f"{SUMS} line {number} names {shortened(name)}, not a file beside it")
        if name in names:
            raise Differs(f"{SUMS} lists {shortened(name)} twice")
        names[name] = digest
    return names


def check_folder(release):
    for name, digest in listed(release).items():
        path = os.path.join(release, name)
        if not os.path.lexists(path):
            raise Differs(f"{shortened(name)}, listed in {SUMS}, is missing from {release}")
        if hashlib.sha256(regular_contents(path, FILE_CAP)).hexdigest() != digest:
            raise Differs(f"{shortened(name)} does not match {SUMS}")


def record(release):
    """BUILDINFO's lines as key -> value, None without one."""
    path = os.path.join(release, BUILDINFO)
    if not os.path.lexists(path):
        return None
    values = {}
    for number, line in lines(path):
        key, colon, value = line.partition(": ")
        if not colon or not RECORD_KEYS.fullmatch(key):
            raise Differs(f"{BUILDINFO} line {number} is not a line the package writes")
        if key in values:
            raise Differs(f"{BUILDINFO} gives {shortened(key)} twice")
        values[key] = value
    packages = [key for key in values if key.startswith("Debian package ")]
    if len(packages) > MOST_RECORDED_PACKAGES:
        raise Differs(f"{BUILDINFO} names {len(packages)} Debian packages; the package writes at "
                      f"most {MOST_RECORDED_PACKAGES}")
    # The rebuild's SOURCE_DATE_EPOCH, and the time of every zip entry.
    date = values.get("source date", "")
    if not re.fullmatch(r"[0-9]{1,11}", date):
        raise Differs(f"{BUILDINFO}'s source date is not a count of seconds")
    if not EARLIEST_ZIP_TIME <= int(date) <= LATEST_ZIP_TIME:
        raise Differs(f"{BUILDINFO}'s source date {date} is not a time a zip can hold "
                      f"(1980 to 2107)")
    return values


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


@functools.lru_cache(maxsize=4)
def fixed_zip(entries, date_time):
    """The package's zip of these entries. Deflating is the slow part of a check, so a process
    that checks many releases against one rebuild writes each zip once."""
    again = io.BytesIO()
    write_fixed_zip(again, entries, date_time)
    return again.getvalue()


def entries(name, data):
    """The zip's entry names in order, their contents and their times. zipfile raises many kinds of
    error on broken bytes, each one line here: its description of a broken zip, else none."""
    try:
        with zipfile.ZipFile(io.BytesIO(data)) as package:
            names = package.namelist()
            if sum(entry.file_size for entry in package.infolist()) > FILE_CAP:
                raise Differs(f"{name} holds more than {FILE_CAP} bytes")
            return names, {entry: package.read(entry) for entry in names}, {
                entry.date_time for entry in package.infolist()}
    except Differs:
        raise
    except zipfile.BadZipFile as error:
        raise Differs(f"{name} cannot be read as a zip: {error}") from None
    except Exception:
        raise Differs(f"{name} cannot be read as a zip") from None


def compare_zip(name, released, rebuilt, trust):
    """Entry by entry, then the whole zip written again from those entries; returns the signers of
    its program (the updater or the field check)."""
    names, released_entries, times = entries(name, released)
    rebuilt_names, rebuilt_entries, rebuilt_times = entries(name, rebuilt)
    if names != rebuilt_names:
        extra = [entry for entry in names if entry not in rebuilt_names]
        raise Differs(f"{name} holds {len(names)} entries, the rebuild {len(rebuilt_names)}: " + (
            f"{shortened(extra[0])} is not one of the rebuild's" if extra else
            f"{', '.join(rebuilt_names)} in another order or some missing"))
    # BUILDINFO's source date, which the rebuild takes.
    if times != rebuilt_times:
        raise Differs(f"{name}: the times of its entries are not the rebuilt ones")
    signers = []
    expected = dict(rebuilt_entries)
    # The programs the build signs, one a zip; the zip's guide then lacks its unsigned note.
    for signable in (PROGRAM, FIELD_CHECK):
        program = released_entries.get(signable)
        if program is None or program == rebuilt_entries[signable]:
            continue
        with tempfile.TemporaryDirectory() as work:
            signers.append(judge_signature(program, rebuilt_entries[signable],
                                           f"{signable} in {name}", work, trust))
        expected[signable] = program
        expected["README.txt"] = expected["README.txt"].replace(UNSIGNED_LINES.encode("ascii"), b"",
                                                                1)
    for entry, data in released_entries.items():
        if data != expected[entry]:
            if entry.endswith((".exe", ".dll")) and has_signature(data):
                raise Differs(f"{shortened(entry)} in {name} carries a signature; the build never "
                              f"signs it")
            raise Differs(f"{shortened(entry)} in {name} differs from the rebuilt one")
    # Nothing but the entries: no comment, extra field, gap, hidden entry or other compression.
    again = fixed_zip(tuple(expected.items()), next(iter(rebuilt_times)))
    if again != released:
        raise Differs(f"{name} is not the zip its entries make: {describe(again, released)}")
    return signers


def check_toolchain_lines(ours, theirs, signed):
    """The release's record names the packages the rebuild's names, each once, and the signing
    tool's only where the package signed its program; their versions are the user's to judge."""
    mine, made = ({key for key in values if key.startswith("Debian package ")}
                  for values in (ours, theirs))
    allowed = made | ({"Debian package osslsigncode"} if signed else set())
    extra, missing = sorted(mine - allowed), sorted(made - mine)
    if extra:
        raise Differs(f"{BUILDINFO} names {shortened(extra[0])}, a line the package does not "
                      f"write")
    if missing:
        raise Differs(f"{BUILDINFO} lacks the line of {missing[0]}, which the package writes")


def compare(release, rebuilt, trust):
    # BUILDINFO is a record, checked before the build; the rebuild took its source date.
    released_record, rebuilt_record = record(release), record(rebuilt)
    if released_record is not None and released_record.get("source date") != rebuilt_record.get(
            "source date"):
        raise Differs(f"{BUILDINFO}'s source date {released_record.get('source date')} is not the "
                      f"rebuild's {rebuilt_record.get('source date')}")
    names, rebuilt_names = set(listed(release)) - {BUILDINFO}, set(listed(rebuilt)) - {BUILDINFO}
    if names != rebuilt_names:
        extra = sorted(names - rebuilt_names)
        raise Differs(f"{SUMS} lists {len(names)} files besides {BUILDINFO}, the rebuild makes "
                      f"{', '.join(sorted(rebuilt_names))}" +
                      (f": {shortened(extra[0])} is not one of them" if extra else ""))
    outputs, signed, unsigned, described = sorted(names), [], [], {}
    for name in outputs:
        released = regular_contents(os.path.join(release, name), FILE_CAP)
        again = regular_contents(os.path.join(rebuilt, name), FILE_CAP)
        if name.endswith(".zip"):
            signers = compare_zip(name, released, again, trust)
            signed += [f"{name} signed by {signer}" for signer in signers]
            unsigned += [] if signers else [name]
            for signer in signers:
                described.setdefault(signer, []).append(name)
        elif released != again:
            raise Differs(f"{name} differs from the rebuilt one")
    # The package signs both programs or neither.
    if signed and unsigned:
        raise Differs(f"{shortened(unsigned[0])} holds no signed program, but {signed[0]}: a "
                      f"release signs both programs or neither")
    if released_record is not None:
        check_toolchain_lines(released_record, rebuilt_record, bool(signed))
    if signed:
        # Programs signed alike are named together. The line is never cut: it names the bytes
        # that no trusted key signed, and its parts are bounded (a subject at NAME_CAP).
        print(one_line("The release is the rebuild, signed: " + "; ".join(
            f"{' and '.join(zips)}, each signed by {signer}" if len(zips) > 1 else
            f"{zips[0]} signed by {signer}" for signer, zips in described.items()), cap=None))
    else:
        print(f"The rebuild is identical to the release: {', '.join(outputs)}")


def one_line(text, cap=LINE_CAP):
    """Bytes of the release it names (a zip's entry names, a signer's) never break or steer the
    line, nor make it longer than `cap`, what a terminal shows at once."""
    line = re.sub(r"[^ -~]", lambda char: char[0].encode("unicode_escape").decode(), text)
    return line if cap is None or len(line) <= cap else line[:cap - 3] + "..."


def main(argv=None):
    parser = argparse.ArgumentParser()
    parser.add_argument("step", choices=("before", "compare"))
    parser.add_argument("release")
    parser.add_argument("rebuilt", nargs="?")
    parser.add_argument("--cafile", default=os.environ.get("ARGB_RELEASE_CAFILE") or None,
                        help="the certificates a signature must chain to (default: "
                             "ARGB_RELEASE_CAFILE, else osslsigncode's, the system's bundle)")
    parser.add_argument("--timestamp-cafile",
                        default=os.environ.get("ARGB_RELEASE_TIMESTAMP_CAFILE") or None,
                        help="the certificates a time-stamp must chain to (default: "
                             "ARGB_RELEASE_TIMESTAMP_CAFILE); without, a time-stamped signature "
                             "is refused")
    parser.add_argument("--crlfile", default=os.environ.get("ARGB_RELEASE_CRLFILE") or None,
                        help="revocation lists in PEM form, for a check offline, the only ones "
                             "used then (default: ARGB_RELEASE_CRLFILE, else those the "
                             "certificates name, fetched over http within 30 s in all)")
    args = parser.parse_args(argv)
    try:
        if args.step == "before":
            check_folder(args.release)
            check_record(args.release, CHECKOUT)
            for difference in toolchain_differences(args.release):
                print(f"{BUILDINFO}: {difference}; a difference in the result is then expected.")
        else:
            compare(args.release, args.rebuilt, args)
    # Whatever else hostile input provokes ends the same way: one line, never a traceback.
    except Exception as error:
        told = error if isinstance(error, (Differs, OSError)) else f"{type(error).__name__}: {error}"
        print(one_line(f"The rebuild check fails: {told}"), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
