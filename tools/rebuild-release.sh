#!/usr/bin/env bash
# Rebuilds a released Windows package from this checkout and compares it with the release:
#
#   git checkout <the released commit>
#   tools/rebuild-release.sh <folder with the zip and SHA256SUMS> [<the firmware image it carries>]
#
# The image is needed unless the zip carries the substitute. The sources are copied to a temporary
# folder and built there with the release's source date; package/compare_release.py says what is
# compared. ARGB_RELEASE_CAFILE names the certificates a signature must chain to (default:
# osslsigncode's, the system's bundle); ARGB_RELEASE_TIMESTAMP_CAFILE those a time-stamp must chain
# to (without it a time-stamped release is refused); ARGB_RELEASE_CRLFILE revocation lists for a
# check offline; ARGB_RELEASE_SIGNERS a file of the signing certificates' fingerprints to accept
# instead of package/release-signers.txt.
set -euo pipefail
# Debian's interpreter, which the windows preset packages with and python3-asn1crypto serves.
python=/usr/bin/python3
release=$(realpath "$1")
image=${2:+$(realpath "$2")}
cd "$(dirname "$0")/.."
# shellcheck disable=SC2046 # the list holds one package name a line, each its own word
tools/ensure-packages.sh $(cat tools/windows-packages.txt)

"$python" package/compare_release.py before "$release"
options=(-DARGB_BUILD_TESTS=OFF)
if grep -q -- '-substitute-image\.zip$' "$release/SHA256SUMS"; then
  options+=(-DARGB_ALLOW_SUBSTITUTE_PACKAGE=ON)
elif [ -n "$image" ]; then
  options+=("-DARGB_FIRMWARE_IMAGE=$image")
else
  echo "The release carries the controller maker's image: name the same file after the folder." >&2
  exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
# The files of this checkout that git does not ignore; the zip's time is the release's.
git ls-files -z --cached --others --exclude-standard |
  xargs -0 cp --parents --target-directory="$work/src"
released_date=$(sed -n 's/^source date: //p' "$release/BUILDINFO" 2>/dev/null || true)
export SOURCE_DATE_EPOCH=${released_date:-${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}}
(cd "$work/src" && cmake --preset windows "${options[@]}" >"$work/build.log" &&
  cmake --build --preset windows -j2 --target package >>"$work/build.log") ||
  { cat "$work/build.log" >&2; exit 1; }

"$python" package/compare_release.py compare "$release" "$work/src/build/windows"
