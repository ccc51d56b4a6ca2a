#!/usr/bin/env bash
# Rebuilds a released Windows package from this checkout and compares it with the release:
#
#   git checkout <the released commit>
#   tools/rebuild-release.sh <folder with the zip and SHA256SUMS> [<the firmware image it carries>]
#
# The image is needed unless the zip carries the substitute. The sources are copied to a temporary
# folder and built there. An unsigned zip and the debug file must match SHA256SUMS byte for byte;
# of a signed zip, the program with its signature removed must be the rebuilt one.
set -euo pipefail
release=$(realpath "$1")
image=${2:+$(realpath "$2")}
cd "$(dirname "$0")/.."
tools/ensure-packages.sh $(cat tools/windows-packages.txt)

(cd "$release" && sha256sum --check --ignore-missing --quiet SHA256SUMS)
zip_name=$(sed -n 's/^[0-9a-f]*  \(.*\.zip\)$/\1/p' "$release/SHA256SUMS")
options=(-DARGB_BUILD_TESTS=OFF)
if [[ $zip_name == *-substitute-image.zip ]]; then
  options+=(-DARGB_ALLOW_SUBSTITUTE_PACKAGE=ON)
elif [ -n "$image" ]; then
  options+=("-DARGB_FIRMWARE_IMAGE=$image")
else
  echo "$zip_name carries the controller maker's image: name the same file after the folder." >&2
  exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
# The files of this checkout that git does not ignore; the zip's time is the commit's.
git ls-files -z --cached --others --exclude-standard |
  xargs -0 cp --parents --target-directory="$work/src"
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
(cd "$work/src" && cmake --preset windows "${options[@]}" >"$work/build.log" &&
  cmake --build --preset windows -j2 --target package >>"$work/build.log") ||
  { cat "$work/build.log" >&2; exit 1; }

rebuilt=$work/src/build/windows
if (cd "$rebuilt" && sha256sum --check --status "$release/SHA256SUMS"); then
  echo "The rebuild is identical to the release: $zip_name"
  exit 0
fi
unzip -p "$release/$zip_name" argb-fw-updater.exe >"$work/signed.exe"
if ! osslsigncode remove-signature -in "$work/signed.exe" -out "$work/unsigned.exe" >/dev/null \
  2>&1; then
  (cd "$rebuilt" && sha256sum --check "$release/SHA256SUMS") >&2 || true
  echo "The rebuild differs from the release." >&2
  exit 1
fi
echo "The release is signed: comparing its program without the signature."
(cd "$rebuilt" && grep ' argb-fw-updater.exe.debug$' "$release/SHA256SUMS" | sha256sum --check)
unzip -p "$rebuilt/$zip_name" argb-fw-updater.exe | cmp - "$work/unsigned.exe"
echo "The program is the rebuilt one, signed: $zip_name"
