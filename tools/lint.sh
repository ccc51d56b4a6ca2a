#!/usr/bin/env bash
# Lints every file of the checkout: what git tracks and the new files it does not ignore. Python
# (pyflakes) is a file ending in .py or starting with a python #! line; a shell script (shellcheck)
# one ending in .sh or starting with a shell's #! line; C++ (clang-format with the repository's
# .clang-format) every .cpp and .h. Shell run as a script from another file (sh -c, a here-document
# fed to a shell, shell=True) escapes shellcheck, so it is a finding too: such a script goes into
# tools/. Exits non-zero on any finding; a deliberate one carries a directive saying why.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck disable=SC2046 # the list holds one package name a line, each its own word
tools/ensure-packages.sh $(cat tools/lint-packages.txt)

python_files=()
shell_scripts=()
cpp_files=()
hosts=() # files that could run a shell script of their own
while IFS= read -r -d '' file; do
  [ -f "$file" ] || continue # deleted, not yet committed
  case "$file" in
    *.py) python_files+=("$file") ;;
    *.sh) shell_scripts+=("$file") ;;
    *.cpp | *.h) cpp_files+=("$file") ;;
    */CMakeLists.txt | CMakeLists.txt | *.cmake) hosts+=("$file") ;;
    *) if head -n 1 -- "$file" | grep -qE '^#!.*[/ ](ba|da)?sh$'; then
      shell_scripts+=("$file")
    elif head -n 1 -- "$file" | grep -qE '^#!.*[/ ]python[0-9.]*( |$)'; then
      python_files+=("$file")
    fi ;;
  esac
done < <(git ls-files -z --cached --others --exclude-standard)
# This file names the patterns it looks for, so it is left out.
for file in "${python_files[@]}" "${shell_scripts[@]}"; do
  [ "$file" = tools/lint.sh ] || hosts+=("$file")
done

status=0
pyflakes3 "${python_files[@]}" || status=1
shellcheck "${shell_scripts[@]}" || status=1
clang-format --dry-run --Werror "${cpp_files[@]}" || status=1
embedded='\b(ba|da)?sh\b["'\'']?[ ,]+["'\'']?-c\b|\b(ba|da)?sh\b[^|]*<<|\bshell=True'
if grep -nE "$embedded" -- "${hosts[@]}"; then
  echo "Lint: shell run as a script from the files above; move it into a script in tools/." >&2
  status=1
fi
if [ "$status" -eq 0 ]; then
  echo "Lint: ${#python_files[@]} Python files, ${#shell_scripts[@]} shell scripts and" \
    "${#cpp_files[@]} C++ files clean; no shell inside other files."
fi
exit "$status"
