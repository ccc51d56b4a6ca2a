"""The two halves of tools/rebuild-release.sh around its build.

  before <release>            checks the release folder against its SHA256SUMS and compares the
                              toolchain of its BUILDINFO with this machine's
  compare <release> <rebuilt> compares every file SHA256SUMS lists with the rebuilt one: a zip entry
                              by entry, its programs without their signatures, which must verify

A difference ends the run with one line that names it and exit code 1.
"""

import argparse
import hashlib
import os
import subprocess
import sys
import tempfile
import zipfile

from release_steps import BUILDINFO, SUMS, UNSIGNED_LINES, debian_version, zip_writer


class Differs(Exception):
    pass


def listed(folder):
    """The files SHA256SUMS lists in the folder: name -> hash."""
    with open(os.path.join(folder, SUMS), encoding="ascii") as sums:
        return {name: digest for digest, name in (line.rstrip("\n").split("  ", 1)
                                                   for line in sums if line.strip())}


def read(path):
    with open(path, "rb") as file:
        return file.read()


def check_folder(release):
    for name, digest in listed(release).items():
        path = os.path.join(release, name)
        if not os.path.exists(path):
            raise Differs(f"{name}, listed in {SUMS}, is missing from {release}")
        if hashlib.sha256(read(path)).hexdigest() != digest:
            raise Differs(f"{name} does not match {SUMS}")


def toolchain_differences(release):
    """The lines of the release's BUILDINFO that this machine would write otherwise."""
    path = os.path.join(release, BUILDINFO)
    if not os.path.exists(path):
        return [f"the release has no {BUILDINFO}: which toolchain made it is unknown"]
    differences = []
    with open(path, encoding="ascii") as record:
        for key, value in (line.rstrip("\n").split(": ", 1) for line in record if ": " in line):
            if key.startswith("Debian package "):
                here = debian_version(key.split()[-1]) or "not installed"
            elif key == "zip writer":
                here = zip_writer()
            else:
                continue  # the commit and the source date belong to the release, not the machine
            if here != value:
                differences.append(f"{key}: {value} made the release, here it is {here}")
    return differences


def unsigned(program, where, work, cafile):
    """The program without its signature, which must verify, and the signer's subject; None for a
    program without a signature."""
    signed, stripped = os.path.join(work, "signed.exe"), os.path.join(work, "unsigned.exe")
    with open(signed, "wb") as file:
        file.write(program)
    if subprocess.run(["osslsigncode", "remove-signature", "-in", signed, "-out", stripped],
                      capture_output=True).returncode != 0:
        return None, None
    verify = ["osslsigncode", "verify", "-in", signed] + (["-CAfile", cafile] if cafile else [])
    verification = subprocess.run(verify, capture_output=True, text=True)
    if verification.returncode != 0:
        raise Differs(f"{where}: its signature does not verify ({' '.join(verify[:2])})")
    # The first subject is the signer's, the chain's follow.
    subject = next(line for line in verification.stdout.splitlines()
                   if line.strip().startswith("Subject:"))
    return read(stripped), subject.split(":", 1)[1].strip()


def compare_zip(name, released, rebuilt, cafile):
    """Entry by entry; returns the signers of its programs."""
    with zipfile.ZipFile(released) as release_zip, zipfile.ZipFile(rebuilt) as rebuilt_zip:
        if release_zip.namelist() != rebuilt_zip.namelist():
            raise Differs(f"{name} holds {', '.join(release_zip.namelist())}; the rebuild holds "
                          f"{', '.join(rebuilt_zip.namelist())}")

        def layout(package):
            return [(entry.date_time, entry.external_attr, entry.compress_type)
                    for entry in package.infolist()]
        if layout(release_zip) != layout(rebuilt_zip):
            raise Differs(f"{name}: the times or modes of its entries differ from the rebuilt ones")
        signers = []
        # The programs first: a signed one allows the guide its one line.
        entries = sorted(release_zip.namelist(), key=lambda entry: not entry.endswith(".exe"))
        with tempfile.TemporaryDirectory() as work:
            for entry in entries:
                ours, theirs = release_zip.read(entry), rebuilt_zip.read(entry)
                if ours == theirs:
                    continue
                if entry.endswith(".exe"):
                    ours, signer = unsigned(ours, f"{entry} in {name}", work, cafile)
                    signers += [signer] if signer else []
                elif signers and entry == "README.txt":
                    theirs = theirs.replace(UNSIGNED_LINES.encode("ascii"), b"", 1)
                if ours != theirs:
                    raise Differs(f"{entry} in {name} differs from the rebuilt one")
        if not signers and read(released) != read(rebuilt):
            raise Differs(f"{name} differs from the rebuilt one in its bytes, not its entries")
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
        elif read(ours) != read(theirs):
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
