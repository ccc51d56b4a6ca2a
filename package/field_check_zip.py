"""The field check's zip, made by the package target right after the release's (ReleaseSteps.cmake):
the program and guide as the seal step prepared them (stripped, signed or the guide saying it is
not), the other libraries stripped, its entries in a fixed order with fixed permissions and the
release zip's own time, so that two builds of one commit give the same bytes; and a line in the
release's SHA256SUMS. The release zip itself is left as it is.

A failure prints one line to standard error and leaves none of the release's files behind.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

from release_inputs import contents
from release_steps import BUILDINFO, DEBUG_FILE, SUMS, sha256, write_fixed_zip, write_sums


def write(args, work):
    with zipfile.ZipFile(args.release_zip) as release:
        date_time = release.infolist()[0].date_time
    entries = []
    for pair in args.entries:
        name, given, path = pair.partition("=")
        if not given:
            path = os.path.join(args.prepared, name)
        elif name.endswith((".exe", ".dll")) and args.objcopy:
            stripped = os.path.join(work, name)
            shutil.copy(path, stripped)
            # --preserve-dates keeps the link's zero time stamp in the PE header.
            subprocess.run([args.objcopy, "--preserve-dates", "--strip-all", stripped],
                           check=True, capture_output=True)
            path = stripped
        entries.append((name, contents(path)))
    zip_path = os.path.join(args.output_dir, args.zip_name)
    write_fixed_zip(zip_path, entries, date_time)
    sums_path = os.path.join(args.output_dir, SUMS)
    with open(sums_path, encoding="ascii") as sums:
        digests = {name: digest for digest, name in
                   (line.split("  ", 1) for line in sums.read().splitlines())}
    digests[args.zip_name] = sha256(zip_path)
    write_sums(sums_path, digests)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--release-zip", required=True, help="the release's zip, for its time")
    parser.add_argument("--output-dir", required=True)
    parser.add_argument("--zip-name", required=True)
    parser.add_argument("--objcopy")
    parser.add_argument("--prepared", help="the folder of the files that seal prepared")
    parser.add_argument("entries", nargs="+", help="name=path, or a name of the prepared folder, "
                                                   "in the order of the zip")
    args = parser.parse_args()
    try:
        with tempfile.TemporaryDirectory() as work:
            write(args, work)
    except (OSError, subprocess.CalledProcessError, zipfile.BadZipFile) as error:
        for path in (*(os.path.join(args.output_dir, name) for name in (
                args.zip_name, SUMS, BUILDINFO, DEBUG_FILE)), args.release_zip):
            if os.path.exists(path):
                os.remove(path)
        print(f"Not packaging the field check: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
