#!/usr/bin/env bash
# Lints every Python file (pyflakes) and every shell script (shellcheck) of the checkout: what git
# tracks and the new files it does not ignore. A script is a file ending in .sh or starting with a
# shell's #! line. Exits non-zero on any finding; a deliberate one carries a directive saying why.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck disable=SC2046 # the list holds one package name a line, each its own word
tools/ensure-packages.sh $(cat tools/lint-packages.txt)

python_files=()
shell_scripts=()
while IFS= read -r -d '' file; do
  case "$file" in
    *.py) python_files+=("$file") ;;
    *.sh) shell_scripts+=("$file") ;;
    *) if head -n 1 -- "$file" | grep -qE '^#!.*[/ ](ba|da)?sh$'; then shell_scripts+=("$file"); fi ;;
  esac
done < <(git ls-files -z --cached --others --exclude-standard)

status=0
pyflakes3 "${python_files[@]}" || status=1
shellcheck "${shell_scripts[@]}" || status=1
if [ "$status" -eq 0 ]; then
  echo "Lint: ${#python_files[@]} Python files and ${#shell_scripts[@]} shell scripts clean."
fi
exit "$status"
