#!/usr/bin/env bash
# Fills in a template of packaging/entravo-site (its @NAME@ marks) and prints it: the package's
# files with the package's values (packaging/entravo-site/paths), the tests' configurations
# with their own folders, from the same text. Fails when a mark is left without a value.
#
#   scripts/render-site-config.sh TEMPLATE [NAME=VALUE...]     the values given
#   scripts/render-site-config.sh --package TEMPLATE           the package's values
set -euo pipefail
[ $# -ge 1 ] || { sed -n '6,7p' "$0" | sed 's/^#   //' >&2; exit 2; }
values=()
if [ "$1" = --package ]; then
  shift
  [ $# -eq 1 ] || { sed -n '7p' "$0" | sed 's/^#   //' >&2; exit 2; }
  mapfile -t values < <(grep -E '^[A-Z_]+=' "$(dirname "$0")/../packaging/entravo-site/paths")
fi
template=$1
shift
values+=("$@")

script=(-e "")
for pair in "${values[@]}"; do
  name=${pair%%=*} value=${pair#*=}
  [[ "$name" =~ ^[A-Z_]+$ ]] && [ "$name" != "$pair" ] || { echo "render-site-config: not NAME=VALUE: $pair" >&2; exit 2; }
  value=${value//\\/\\\\} value=${value//|/\\|} value=${value//&/\\&}
  script+=(-e "s|@$name@|$value|g")
done
text=$(sed "${script[@]}" -- "$template")
if left=$(grep -o '@[A-Z_]*@' <<<"$text" | sort -u | xargs) && [ -n "$left" ]; then
  echo "render-site-config: $template: no value for $left" >&2
  exit 1
fi
printf '%s\n' "$text"
