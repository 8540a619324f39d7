#!/usr/bin/env bash
# Every C++ source the project keeps is laid out as .clang-format says. Prints the places that are
# not (clang-format's own diagnostics, with the line) and fails; `clang-format -i FILE` fixes them.
set -euo pipefail
root=${1:?the source folder}
formatter=${2:-clang-format}
cd "${root}"

# The files git keeps, or every source below the folder when it is no git checkout (a tarball).
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
    mapfile -t files < <(find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
"${formatter}" --dry-run -Werror "${files[@]}"
echo "format: ${#files[@]} files as .clang-format says"
