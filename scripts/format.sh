#!/usr/bin/env bash
# Formats the project's C and C++ sources with clang-format and .clang-format.
#
# Usage: scripts/format.sh [--check]
#   (none)    rewrites every file that is not formatted
#   --check   changes nothing; lists the files that are not formatted and
#             exits non-zero when there is one
#
# The files are the C and C++ sources git tracks. Installs clang-format
# (Debian's) when it is missing, as root.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
readonly ROOT

check=false
case ${1:-} in
  --check) check=true ;;
  "") ;;
  *)
    sed -n '2,9s/^# \{0,1\}//p' "$0" >&2
    exit 2
    ;;
esac

# shellcheck source=lib/install.sh
source "$ROOT/scripts/lib/install.sh"
install_missing clang-format || exit 2

cd "$ROOT"
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')

if ! $check; then
  clang-format -i --style=file "${files[@]}"
  exit 0
fi

unformatted=0
for file in "${files[@]}"; do
  if ! clang-format --style=file --dry-run -Werror "$file" >/dev/null 2>&1; then
    echo "$file"
    unformatted=$((unformatted + 1))
  fi
done
if ((unformatted > 0)); then
  echo "format.sh: $unformatted of ${#files[@]} files are not formatted (scripts/format.sh formats them)" >&2
  exit 1
fi
echo "format.sh: all ${#files[@]} files are formatted"
