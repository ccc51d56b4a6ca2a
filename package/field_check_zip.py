"""The field check's zip, made by the package target right after the release's (ReleaseSteps.cmake):
the program stripped, its entries in a fixed order with fixed permissions and the release zip's own
time, so that two builds of one commit give the same bytes; and a line in the release's SHA256SUMS.
The release zip itself is left as it is.

A failure prints one line to standard error and leaves neither zip nor SHA256SUMS behind.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

from release_steps import SUMS, sha256


def write(args, work):
    with zipfile.ZipFile(args.release_zip) as release:
        date_time = release.infolist()[0].date_time
    with zipfile.ZipFile(os.path.join(args.output_dir, args.zip_name), "w") as package:
        for pair in args.entries:
            name, _, path = pair.partition("=")
            if name.endswith((".exe", ".dll")) and args.objcopy:
                stripped = os.path.join(work, name)
                shutil.copy(path, stripped)
                # --preserve-dates keeps the link's zero time stamp in the PE header.
                subprocess.run([args.objcopy, "--preserve-dates", "--strip-all", stripped],
                               check=True, capture_output=True)
                path = stripped
            entry = zipfile.ZipInfo(name, date_time)
            entry.create_system = 3  # Unix, whichever system builds it
            entry.external_attr = (0o100755 if name.endswith((".exe", ".dll")) else 0o100644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as file:
                package.writestr(entry, file.read(), compresslevel=9)
    sums_path = os.path.join(args.output_dir, SUMS)
    with open(sums_path, encoding="ascii") as sums:
        lines = [line for line in sums.read().splitlines() if not line.endswith("  " + args.zip_name)]
    lines.append(f"{sha256(os.path.join(args.output_dir, args.zip_name))}  {args.zip_name}")
    with open(sums_path, "w", encoding="ascii", newline="\n") as sums:
        sums.write("".join(line + "\n" for line in sorted(lines, key=lambda line: line.split("  ", 1)[1])))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--release-zip", required=True, help="the release's zip, for its time")
    parser.add_argument("--output-dir", required=True)
    parser.add_argument("--zip-name", required=True)
    parser.add_argument("--objcopy")
    parser.add_argument("entries", nargs="+", help="name=path, in the order of the zip")
    args = parser.parse_args()
    try:
        with tempfile.TemporaryDirectory() as work:
            write(args, work)
    except (OSError, subprocess.CalledProcessError, zipfile.BadZipFile) as error:
        for path in (os.path.join(args.output_dir, args.zip_name),
                     os.path.join(args.output_dir, SUMS), args.release_zip):
            if os.path.exists(path):
                os.remove(path)
        print(f"Not packaging the field check: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
