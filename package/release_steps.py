"""The package target's own steps around CPack's, run by ReleaseSteps.cmake.

  seal: before CPack zips the staged files, the program's debug information goes into a file
        beside the zip (linked to the program by a debug link), and the program is signed when a
        certificate is given; an unsigned one says so in its README.txt.
  zip:  CPack's zip is written again with a fixed order, time and permissions, so that two builds
        of one commit give the same bytes, and SHA256SUMS lists it with the debug file.

A failed step prints one line to standard error and leaves no zip, SHA256SUMS or debug file behind.
"""

import argparse
import array
import hashlib
import os
import re
import struct
import subprocess
import sys
import time
import zipfile

PROGRAM = "argb-fw-updater.exe"
DEBUG_FILE = PROGRAM + ".debug"
SUMS = "SHA256SUMS"
# The zip's entries in the order a user reads them.
ENTRIES = (PROGRAM, "README.txt", "LICENSE")
UNSIGNED_NOTE = ("This copy is not signed: Windows shows \"Unknown publisher\" when it asks for "
                 "administrator rights.")
# The first time a zip entry can hold (1980-01-01), for a source tree without git.
EARLIEST_ZIP_TIME = 315532800


class StepFailed(Exception):
    pass


def run(argv, what, **kwargs):
    result = subprocess.run(argv, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        lines = [line.strip() for line in (result.stderr + result.stdout).splitlines()]
        raise StepFailed(f"{what}: {next((line for line in lines if line), 'no message')}")


def remove(*paths):
    for path in paths:
        if os.path.exists(path):
            os.remove(path)


def make_signable(program):
    """Pads the program to whole 8 bytes and sets its PE checksum, as signing does, so that a signed
    program with its signature removed (osslsigncode remove-signature) is the unsigned one."""
    with open(program, "rb") as file:
        data = bytearray(file.read())
    data += bytes(-len(data) % 8)
    checksum_at = struct.unpack_from("<I", data, 0x3C)[0] + 88  # in the optional header
    struct.pack_into("<I", data, checksum_at, 0)
    words = array.array("H", bytes(data))
    if sys.byteorder == "big":
        words.byteswap()
    total = sum(words)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    struct.pack_into("<I", data, checksum_at, total + len(data))
    with open(program, "wb") as file:
        file.write(data)


def sign(program, args):
    """Authenticode signature with SHA-256, from the PKCS#12 file. The password is read from the
    environment and handed over on standard input: never on a command line or in a file."""
    what = f"signing {PROGRAM} with ARGB_SIGNING_PKCS12={args.pkcs12} failed"
    if not args.signer:
        raise StepFailed(f"{what}: osslsigncode not found (apt-get install osslsigncode)")
    if not os.access(args.pkcs12, os.R_OK):
        raise StepFailed(f"{what}: the file cannot be read")
    signed = program + ".signed"
    argv = [args.signer, "sign", "-pkcs12", args.pkcs12, "-readpass", "-", "-h", "sha256",
            "-n", "Corvix ARGB FW updater"]
    if args.timestamp_url:
        argv += ["-ts", args.timestamp_url]
    try:
        run(argv + ["-in", program, "-out", signed], what,
            input=os.environ.get("ARGB_SIGNING_PASSWORD", ""))
        os.replace(signed, program)
    finally:
        remove(signed)


def seal(args):
    program = os.path.join(args.staging, PROGRAM)
    debug_file = os.path.join(args.output_dir, DEBUG_FILE)
    remove(os.path.join(args.output_dir, args.zip_name), os.path.join(args.output_dir, SUMS),
           debug_file)
    try:
        # MSVC has no objcopy, and keeps the debug information in a PDB of its own anyway.
        if args.objcopy:
            # --preserve-dates also keeps the link's zero time stamp in the PE header, where
            # objcopy would otherwise write the current time.
            objcopy = [args.objcopy, "--preserve-dates"]
            run(objcopy + ["--only-keep-debug", program, debug_file], "keeping the debug file")
            run(objcopy + ["--strip-all", f"--add-gnu-debuglink={debug_file}", program],
                "stripping the program")
        make_signable(program)
        # A package of the substitute image must never look like a trusted release.
        if args.pkcs12 and not args.substitute:
            sign(program, args)
        else:
            guide_path = os.path.join(args.staging, "README.txt")
            with open(guide_path, "rb") as guide_file:
                guide = guide_file.read().decode("ascii")
            # Right below the title.
            guide = re.sub(r"(\n=+\r\n\r\n)", lambda m: m.group(1) + UNSIGNED_NOTE + "\r\n\r\n",
                           guide, count=1)
            with open(guide_path, "wb") as guide_file:
                guide_file.write(guide.encode("ascii"))
    except BaseException:
        remove(debug_file)
        raise


def zip_time(source_dir):
    """SOURCE_DATE_EPOCH where set, else the time of the source tree's commit."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        epoch = int(os.environ["SOURCE_DATE_EPOCH"])
    else:
        try:
            epoch = int(subprocess.run(["git", "-C", source_dir, "log", "-1", "--format=%ct"],
                                       capture_output=True, text=True, check=True).stdout)
        except (OSError, ValueError, subprocess.CalledProcessError):
            epoch = EARLIEST_ZIP_TIME
    return time.gmtime(max(epoch, EARLIEST_ZIP_TIME))[:6]


def sha256(path):
    with open(path, "rb") as file:
        return hashlib.sha256(file.read()).hexdigest()


def write_zip(args):
    sums_path = os.path.join(args.output_dir, SUMS)
    try:
        date_time = zip_time(args.source_dir)
        with zipfile.ZipFile(args.zip, "w") as package:
            for name in ENTRIES:
                entry = zipfile.ZipInfo(name, date_time)
                entry.create_system = 3  # Unix, whichever system builds it
                entry.external_attr = (0o100755 if name.endswith(".exe") else 0o100644) << 16
                entry.compress_type = zipfile.ZIP_DEFLATED
                with open(os.path.join(args.staging, name), "rb") as file:
                    package.writestr(entry, file.read(), compresslevel=9)
        files = {args.zip_name: args.zip, DEBUG_FILE: os.path.join(args.output_dir, DEBUG_FILE)}
        files = {name: path for name, path in files.items() if os.path.exists(path)}
        with open(sums_path, "w", encoding="ascii", newline="\n") as sums:
            for name in sorted(files):
                sums.write(f"{sha256(files[name])}  {name}\n")
    except BaseException:
        # CPack then has no zip to copy.
        remove(args.zip, sums_path, os.path.join(args.output_dir, DEBUG_FILE))
        raise


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("step", choices=("seal", "zip"))
    parser.add_argument("--staging", required=True)
    parser.add_argument("--output-dir", required=True)
    parser.add_argument("--zip-name", required=True)
    parser.add_argument("--zip", help="CPack's zip, for the zip step")
    parser.add_argument("--source-dir", default=".")
    parser.add_argument("--objcopy")
    parser.add_argument("--signer")
    parser.add_argument("--pkcs12")
    parser.add_argument("--timestamp-url")
    parser.add_argument("--substitute", action="store_true")
    args = parser.parse_args()
    try:
        if args.step == "seal":
            seal(args)
        else:
            write_zip(args)
    except (StepFailed, OSError) as error:
        print(f"Not packaging: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
