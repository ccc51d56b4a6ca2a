"""The package target's own steps around CPack's, run by ReleaseSteps.cmake.

  seal: before CPack zips the staged files, the program's debug information goes into a file
        beside the zip (linked to the program by a debug link), and the field check's program and
        guide are prepared for its zip (field_check_zip.py). Both programs are signed when a
        certificate is given (a PKCS#12 file or a token's key), or replaced by the same programs
        signed elsewhere, and each signature is judged as the release check judges it; unsigned,
        each guide says so. The licence notices of the toolchain's libraries linked into the
        program are staged as THIRD-PARTY-NOTICES.txt.
  to-sign: both programs as seal has them before signing, for signatures made elsewhere.
  zip:  CPack's zip is written again with a fixed order, time and permissions, so that two builds
        of one commit give the same bytes, and SHA256SUMS lists it with the debug file and
        BUILDINFO, the record of the commit and the toolchain that made them.

A failed step prints one line to standard error and leaves no zip, SHA256SUMS or debug file behind.
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse
import zipfile
import zlib

from release_inputs import contents, trust_from_environment, with_checksum

PROGRAM = "argb-fw-updater.exe"
FIELD_CHECK = "argb-field-check.exe"
# The name Windows' elevation prompt shows for each signed program.
DESCRIPTIONS = {PROGRAM: "Corvix ARGB FW updater", FIELD_CHECK: "Corvix ARGB field check"}
DEBUG_FILE = PROGRAM + ".debug"
SUMS = "SHA256SUMS"
NOTICES = "THIRD-PARTY-NOTICES.txt"
BUILDINFO = "BUILDINFO"
# The zip's entries in the order a user reads them.
ENTRIES = (PROGRAM, "README.txt", "LICENSE", NOTICES)
# What the static link (cmake/WindowsRuntime.cmake) takes from the toolchain: the GCC and C++
# runtimes, winpthreads and the MinGW-w64 CRT.
LINKED_LIBRARIES = ("libstdc++.a", "libgcc.a", "libgcc_eh.a", "libwinpthread.a", "libmingw32.a",
                    "libmingwex.a", "libmsvcrt.a", "crt2.o")
UNSIGNED_NOTE = ("This copy is not signed: Windows shows \"Unknown publisher\" when it asks for "
                 "administrator rights.")
# Right below the guide's title; the one difference between a signed and an unsigned guide.
UNSIGNED_LINES = UNSIGNED_NOTE + "\r\n\r\n"
# The first time a zip entry can hold (1980-01-01), for a source tree without git, and the last
# (2107-12-31 23:59:59).
EARLIEST_ZIP_TIME = 315532800
LATEST_ZIP_TIME = 4354819199
# BUILDINFO names the Debian packages of the compiler, objcopy, CMake, the signing tool and the
# linked libraries: at most this many.
MOST_RECORDED_PACKAGES = 4 + len(LINKED_LIBRARIES)


class StepFailed(Exception):
    pass


def run(argv, what, faults=(), **kwargs):
    """Runs the command; where it fails, the first of the (phrase, meaning) faults whose phrase it
    prints names why, else its first line."""
    result = subprocess.run(argv, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        told = result.stderr + result.stdout
        lines = [line.strip() for line in told.splitlines()]
        meaning = next((meaning for phrase, meaning in faults if phrase in told), None)
        first = next((line for line in lines if line), "no message")
        raise StepFailed(f"{what}: {meaning or first}")


def output_of(argv):
    try:
        return subprocess.run(argv, capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return None


def debian_package(path):
    """The Debian package that installed the file, or None."""
    for candidate in dict.fromkeys((os.path.normpath(path), os.path.realpath(path))):
        owners = output_of(["dpkg-query", "--search", candidate]) or ""
        # "package[, package]: path"; a diversion line has no such form.
        for line in owners.splitlines():
            if line.endswith(": " + candidate):
                return line.split(":")[0].split(",")[0].strip()
    return None


def debian_version(package):
    return output_of(["dpkg-query", "--show", "--showformat=${Version}", package])


def linked_library_packages(compiler):
    """The Debian packages of the libraries the program links in: package -> library names."""
    packages = {}
    for library in LINKED_LIBRARIES:
        path = (output_of([compiler, f"-print-file-name={library}"]) or "").strip()
        package = debian_package(path) if os.path.isabs(path) else None
        if not package:
            raise StepFailed(f"writing {NOTICES}: no Debian package provides {library} of "
                             f"{compiler}, so its licence notice is unknown")
        packages.setdefault(package, []).append(library)
    return packages


def write_notices(path, compiler):
    """The licence notices, as the Debian packages of the linked libraries carry them: the same
    toolchain gives the same text, which names no path of the build machine."""
    text = ["Third-party notices", "===================", "",
            f"{PROGRAM} carries these libraries of the compiler that built it. Their licences",
            "follow, as the Debian packages that provide them state them.", ""]
    # Packages built from one source share one copyright file: each notice once.
    sources = {}
    for package, libraries in sorted(linked_library_packages(compiler).items()):
        sources.setdefault(os.path.realpath(f"/usr/share/doc/{package}/copyright"), []).append(
            f"{', '.join(libraries)}: Debian package {package} {debian_version(package)}")
    for copyright_path, headings in sources.items():
        with open(copyright_path, encoding="utf-8") as copyright_file:
            notice = copyright_file.read().rstrip("\n")
        text += headings + ["-" * max(map(len, headings)), "", notice, "", ""]
    with open(path, "w", encoding="utf-8", newline="\r\n") as notices:
        notices.write("\n".join(text))


def zip_writer():
    """What writes the zip's bytes: this Python's zipfile and the zlib it deflates with."""
    return f"Python {sys.version.split()[0]} zipfile, zlib {zlib.ZLIB_RUNTIME_VERSION}"


def remove(*paths):
    for path in paths:
        if os.path.exists(path):
            os.remove(path)


def make_signable(program):
    """Pads the program to whole 8 bytes and sets its PE checksum, as signing does, so that a signed
    program with its signature removed (osslsigncode remove-signature) is the unsigned one."""
    with open(program, "rb") as file:
        data = bytearray(file.read())
    data = with_checksum(data + bytes(-len(data) % 8))
    with open(program, "wb") as file:
        file.write(data)


def signs(args):
    """Whether the zipped programs carry signatures: never for the substitute image."""
    return bool(args.pkcs12 or args.key or args.signed_program) and not args.substitute


def keys_named(args):
    """How many keys of the token the pkcs11: URI names, counted by their public halves, which a
    token lists without its PIN; None without opensc's pkcs11-tool."""
    attributes = {name.lower(): urllib.parse.unquote_to_bytes(value) for name, _, value in (
        part.partition("=") for part in args.key.partition(":")[2].split("?")[0].split(";"))}
    argv = ["pkcs11-tool", "--module", args.pkcs11_module, "--list-objects", "--type", "pubkey"]
    if "token" in attributes:
        argv += ["--token-label", attributes["token"].decode(errors="replace")]
    listing = output_of(argv)
    if listing is None:
        return None
    named = 0
    for key in listing.split("Public Key Object")[1:]:
        label = re.search(r"(?m)^\s*label:\s*(.*)$", key)
        identifier = re.search(r"(?m)^\s*ID:\s*([0-9a-f]*)$", key)
        named += (attributes.get("object") in (None, label and label.group(1).encode())) and (
            attributes.get("id") in (None, identifier and bytes.fromhex(identifier.group(1))))
    return named


def signing_way(args):
    """What signs, the files it reads with their names for a refusal, osslsigncode's options, and
    what its failures mean."""
    if not args.key:
        return (f"ARGB_SIGNING_PKCS12={args.pkcs12}", [(args.pkcs12, "the file")],
                ["-pkcs12", args.pkcs12], ())
    certificates = f"ARGB_SIGNING_CERTIFICATES={args.certificates}"
    module = f"the module ARGB_SIGNING_PKCS11_MODULE={args.pkcs11_module}"
    # libp11 takes one of several keys the URI names, most likely not the certificates' one.
    named = keys_named(args) or 0
    # libp11's words, the first that fits: a wrong PIN or a missing token also leave the key
    # not found.
    faults = (("PIN incorrect", "the token refuses the PIN in ARGB_SIGNING_PASSWORD"),
              ("PIN locked", "the token's PIN is locked"),
              ("Unable to load module", f"{module} cannot be loaded"),
              ("No matching initialized token", "no token that ARGB_SIGNING_KEY names is present"),
              *([("consistency of a private key", f"ARGB_SIGNING_KEY names {named} keys of the "
                                                  f"token: add the id= of the one that signs")] *
                (named > 1)),
              ("key values mismatch", f"the certificates of {certificates} are not the key's"),
              ("private key was not found", "the token holds no private key that "
                                            "ARGB_SIGNING_KEY names"))
    return (f"ARGB_SIGNING_KEY={args.key}",
            [(args.engine, "OpenSSL's PKCS#11 engine (apt-get install libengine-pkcs11-openssl)"),
             (args.pkcs11_module, module), (args.certificates, certificates)],
            ["-pkcs11engine", args.engine, "-pkcs11module", args.pkcs11_module, "-key", args.key,
             "-certs", args.certificates], faults)


def sign(program, args):
    """Authenticode signature with SHA-256, from the PKCS#12 file or with the token's key through
    OpenSSL's PKCS#11 engine. The password or PIN is read from the environment and handed over on
    standard input (osslsigncode gives it to the engine): never on a command line or in a file."""
    name, files, options, faults = signing_way(args)
    program_name = os.path.basename(program)
    what = f"signing {program_name} with {name} failed"
    secret = os.environ.get("ARGB_SIGNING_PASSWORD", "")
    if not args.signer:
        raise StepFailed(f"{what}: osslsigncode not found (apt-get install osslsigncode)")
    for path, named in files:
        if not path or not os.access(path, os.R_OK):
            raise StepFailed(f"{what}: {named} cannot be read")
    if args.key and not secret:
        raise StepFailed(f"{what}: ARGB_SIGNING_PASSWORD holds no PIN")
    signed = program + ".signed"
    argv = [args.signer, "sign", *options, "-readpass", "-", "-h", "sha256",
            "-n", DESCRIPTIONS[program_name]]
    if args.timestamp_url:
        argv += ["-ts", args.timestamp_url]
    unsigned = contents(program)
    try:
        run(argv + ["-in", program, "-out", signed], what, faults, input=secret)
        os.replace(signed, program)
    finally:
        remove(signed)
    judge(contents(program), unsigned, f"{program_name} signed with {name}")


def judge(signed, unsigned, where):
    """Stops with the release check's own line where it would refuse the signed program: by its
    judge_signature, with the trust a user's check takes from the environment."""
    try:
        from release_signature import Differs, NotPinned, judge_signature
    except ImportError as missing:
        raise StepFailed(f"judging {where}: {missing} (apt-get install python3-asn1crypto "
                         f"python3-cryptography)") from None
    with tempfile.TemporaryDirectory() as work:
        try:
            judge_signature(signed, unsigned, where, work, trust_from_environment())
        except NotPinned as refusal:
            raise StepFailed(f"{refusal}: pin it in package/release-signers.txt in a commit before "
                             f"the release's") from None
        except Differs as refusal:
            raise StepFailed(str(refusal)) from None
        # Hostile bytes may break the reading anywhere: still one line.
        except Exception as error:
            raise StepFailed(f"{where} cannot be judged: {type(error).__name__}: {error}") from None


def take_signed(program, variable, path):
    """The program signed elsewhere (the file `variable` names) in place of the prepared one, only
    if the release check accepts it as this very program with one signature attached."""
    if not path:
        raise StepFailed(f"{variable} is not set: ARGB_SIGNED_PROGRAM and ARGB_SIGNED_FIELD_CHECK "
                         f"name the two programs signed elsewhere, both or neither")
    where = f"{variable}={path}"
    try:
        signed = contents(path)
    except OSError as error:
        raise StepFailed(f"{where} cannot be read: {error.strerror}") from None
    unsigned = contents(program)
    if signed == unsigned:
        raise StepFailed(f"{where} is the program to sign itself: it carries no signature")
    judge(signed, unsigned, where)
    with open(program, "wb") as file:
        file.write(signed)


def prepare(program, debug_file, objcopy):
    """Moves the program's debug information into the debug file, linked by name and CRC (without a
    debug file, as for the field check, it is dropped), and pads it: the bytes a signature is made
    over."""
    # MSVC has no objcopy, and keeps the debug information in a PDB of its own anyway.
    if objcopy:
        # --preserve-dates also keeps the link's zero time stamp in the PE header, where
        # objcopy would otherwise write the current time.
        objcopy = [objcopy, "--preserve-dates"]
        link = [f"--add-gnu-debuglink={debug_file}"] if debug_file else []
        if debug_file:
            run(objcopy + ["--only-keep-debug", program, debug_file], "keeping the debug file")
        run(objcopy + ["--strip-all", *link, program], f"stripping {os.path.basename(program)}")
    make_signable(program)


def write_program_to_sign(args):
    """Both programs as seal has them before signing, for signatures made elsewhere; the updater's
    debug file, which the package step writes again alike, is not needed."""
    os.makedirs(args.output_dir, exist_ok=True)
    written = []
    try:
        for name, linked in ((PROGRAM, args.program), (FIELD_CHECK, args.field_check)):
            written.append(os.path.join(args.output_dir, name))
            shutil.copyfile(linked, written[-1])
            with tempfile.TemporaryDirectory() as work:
                prepare(written[-1], os.path.join(work, DEBUG_FILE) if name == PROGRAM else None,
                        args.objcopy)
    except BaseException:
        remove(*written)
        raise
    print("\n".join(written))


def mark_unsigned(guide_path):
    """The unsigned note right below the guide's title."""
    with open(guide_path, "rb") as guide_file:
        guide = guide_file.read().decode("ascii")
    guide = re.sub(r"(\n=+\r\n\r\n)", lambda m: m.group(1) + UNSIGNED_LINES, guide, count=1)
    with open(guide_path, "wb") as guide_file:
        guide_file.write(guide.encode("ascii"))


def prepare_field_check(args):
    """The field check's program and guide, in a folder of their own, as its zip takes them: the
    program stripped and padded like the updater, so that it is signed alike."""
    os.makedirs(args.field_check_dir)
    program = os.path.join(args.field_check_dir, FIELD_CHECK)
    shutil.copyfile(args.field_check, program)
    shutil.copyfile(args.field_check_guide, os.path.join(args.field_check_dir, "README.txt"))
    prepare(program, None, args.objcopy)
    return program


def seal(args):
    program = os.path.join(args.staging, PROGRAM)
    debug_file = os.path.join(args.output_dir, DEBUG_FILE)
    remove(os.path.join(args.output_dir, args.zip_name), os.path.join(args.output_dir, SUMS),
           os.path.join(args.output_dir, BUILDINFO), debug_file)
    shutil.rmtree(args.field_check_dir, ignore_errors=True)
    try:
        prepare(program, debug_file, args.objcopy)
        field_check = prepare_field_check(args)
        # MSVC's runtime is Microsoft's, under the terms of its redistribution.
        if args.compiler:
            write_notices(os.path.join(args.staging, NOTICES), args.compiler)
        # Each signature is made (or taken) and judged before anything is zipped.
        for path, variable, signed_elsewhere in (
                (program, "ARGB_SIGNED_PROGRAM", args.signed_program),
                (field_check, "ARGB_SIGNED_FIELD_CHECK", args.signed_field_check)):
            # A package of the substitute image must never look like a trusted release.
            if not signs(args):
                mark_unsigned(os.path.join(os.path.dirname(path), "README.txt"))
            elif args.signed_program:
                take_signed(path, variable, signed_elsewhere)
            else:
                sign(path, args)
    except BaseException:
        remove(debug_file)
        shutil.rmtree(args.field_check_dir, ignore_errors=True)
        raise


def source_date(source_dir):
    """SOURCE_DATE_EPOCH where set, else the time of the source tree's commit."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        epoch = os.environ["SOURCE_DATE_EPOCH"]
        if not epoch.isdigit() or not EARLIEST_ZIP_TIME <= int(epoch) <= LATEST_ZIP_TIME:
            raise StepFailed(f"SOURCE_DATE_EPOCH={epoch} is not a time a zip can hold (1980 to "
                             f"2107)")
        return int(epoch)
    commit_time = output_of(["git", "-C", source_dir, "log", "-1", "--format=%ct"])
    return max(int(commit_time), EARLIEST_ZIP_TIME) if commit_time else EARLIEST_ZIP_TIME


def commit_record(source_dir):
    """BUILDINFO's commit line for the sources in the folder; the rebuild check requires the same
    line of the checkout it builds."""
    commit = (output_of(["git", "-C", source_dir, "rev-parse", "HEAD"]) or "").strip()
    if commit and output_of(["git", "-C", source_dir, "status", "--porcelain"]):
        commit += " with changes not committed"
    return commit or "unknown (not built from a git checkout)"


def write_buildinfo(path, args, epoch):
    """Which commit and which toolchain made the release, for whoever rebuilds it later: a rebuild
    with other versions may differ for that reason alone."""
    tools = [args.compiler, args.objcopy, args.cmake]
    # osslsigncode signed the program, or verified the one signed elsewhere.
    if signs(args):
        tools.append(args.signer)
    packages = [debian_package(shutil.which(tool) or tool) for tool in tools if tool]
    if args.compiler:
        packages += linked_library_packages(args.compiler)
    lines = [f"commit: {commit_record(args.source_dir)}",
             f"source date: {epoch}"]
    lines += [f"Debian package {package}: {debian_version(package)}"
              for package in sorted(set(packages) - {None})]
    lines.append(f"zip writer: {zip_writer()}")
    with open(path, "w", encoding="ascii", newline="\n") as record:
        record.write("\n".join(lines) + "\n")


def sha256(path):
    return hashlib.sha256(contents(path)).hexdigest()


def write_fixed_zip(target, entries, date_time):
    """A zip whose bytes depend on its entries only: (name, contents) pairs in this order, one time,
    fixed permissions, whatever system builds it. The target is a path or a binary file; the rebuild
    check writes a release's zip again with it."""
    with zipfile.ZipFile(target, "w") as package:
        for name, data in entries:
            entry = zipfile.ZipInfo(name, date_time)
            entry.create_system = 3  # Unix
            entry.external_attr = (0o100755 if name.endswith((".exe", ".dll")) else 0o100644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            package.writestr(entry, data, compresslevel=9)


def write_sums(sums_path, digests):
    """SHA256SUMS of {name: SHA-256 in hex}, by name."""
    with open(sums_path, "w", encoding="ascii", newline="\n") as sums:
        sums.writelines(f"{digests[name]}  {name}\n" for name in sorted(digests))


def write_zip(args):
    sums_path = os.path.join(args.output_dir, SUMS)
    buildinfo_path = os.path.join(args.output_dir, BUILDINFO)
    try:
        epoch = source_date(args.source_dir)
        date_time = time.gmtime(epoch)[:6]
        staged = [(name, os.path.join(args.staging, name)) for name in ENTRIES]
        write_fixed_zip(args.zip, [(name, contents(path)) for name, path in staged
                                   if os.path.exists(path)], date_time)
        write_buildinfo(buildinfo_path, args, epoch)
        files = {args.zip_name: args.zip, DEBUG_FILE: os.path.join(args.output_dir, DEBUG_FILE),
                 BUILDINFO: buildinfo_path}
        write_sums(sums_path, {name: sha256(path) for name, path in files.items()
                               if os.path.exists(path)})
    except BaseException:
        # CPack then has no zip to copy.
        remove(args.zip, sums_path, buildinfo_path, os.path.join(args.output_dir, DEBUG_FILE))
        raise


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("step", choices=("seal", "zip", "to-sign"))
    parser.add_argument("--staging")
    parser.add_argument("--output-dir", required=True)
    parser.add_argument("--zip-name")
    parser.add_argument("--program", help="the linked program, for the to-sign step")
    parser.add_argument("--field-check", help="the linked field check, for seal and to-sign")
    parser.add_argument("--field-check-guide", help="the field check's README.txt, for seal")
    parser.add_argument("--field-check-dir", help="where seal prepares the field check's files")
    parser.add_argument("--zip", help="CPack's zip, for the zip step")
    parser.add_argument("--source-dir", default=".")
    parser.add_argument("--objcopy")
    parser.add_argument("--compiler", help="the GNU C++ compiler whose libraries are linked in")
    parser.add_argument("--cmake")
    parser.add_argument("--signer")
    parser.add_argument("--pkcs12")
    parser.add_argument("--key", help="a pkcs11: URI of the token's private key")
    parser.add_argument("--pkcs11-module")
    parser.add_argument("--engine", help="OpenSSL's PKCS#11 engine")
    parser.add_argument("--certificates", help="PEM: the key's certificate and intermediates")
    parser.add_argument("--signed-program", help="the program to sign, signed elsewhere")
    parser.add_argument("--signed-field-check", help="the field check to sign, signed elsewhere")
    parser.add_argument("--timestamp-url")
    parser.add_argument("--substitute", action="store_true")
    args = parser.parse_args()
    if args.step == "seal" and not (args.field_check and args.field_check_guide and
                                    args.field_check_dir):
        parser.error("seal needs --field-check, --field-check-guide and --field-check-dir")
    try:
        if args.step == "seal":
            seal(args)
        elif args.step == "zip":
            write_zip(args)
        else:
            write_program_to_sign(args)
    except (StepFailed, OSError) as error:
        print(f"Not packaging: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
