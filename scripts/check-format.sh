#!/usr/bin/env bash
# Fails when a C or C++ file of the project is not as clang-format (.clang-format) would write
# it. Run `clang-format -i FILE...` to fix. Exit 77 (a skip) when clang-format is not there.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
  echo "check-format: clang-format is not installed" >&2
  exit 77
fi
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' '*.c' |
                     while read -r f; do [ -f "$f" ] && echo "$f"; done)
clang-format --dry-run -Werror "${files[@]}"
echo "check-format: ${#files[@]} files as clang-format writes them"
