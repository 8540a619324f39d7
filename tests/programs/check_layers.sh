#!/usr/bin/env bash
# The folders' layering: arrows point down only. Headless code (the layers under the windows)
# includes no Qt header and nothing from the windows, the simulated devices, the benchmarks or the
# tests; drivers include nothing from the instruments or tools built on them; the windows include
# no simulated device; the headless library takes no source from the windows' folder; no device
# command is spelled outside the drivers and the simulated devices. Prints each violation, fails.
set -euo pipefail
cd "${1:-$(dirname "${BASH_SOURCE[0]}")/../..}"

violations=0
# why | the places, one a line
report() {
    [ -z "$2" ] && return 0
    echo "$1:" && echo "$2" | sed 's/^/  /'
    violations=$((violations + $(echo "$2" | wc -l)))
}
# folders | what their includes must not match | why
check() {
    # shellcheck disable=SC2086
    report "$3" "$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($2)" $1 \
        --include='*.h' --include='*.cpp' || true)"
}

check "platform serial devices instruments tools" 'Q[A-Za-z]|qt|console/|sim/|bench/|tests/' \
    "headless code includes a window, Qt, a simulated device, a benchmark or a test"
check "cli" 'Q[A-Za-z]|qt|console/|sim/|bench/|tests/' \
    "the command line includes a window, Qt, a simulated device, a benchmark or a test"
check "platform serial devices instruments tools console" 'cli/' "something includes the command line"
check "devices" 'instruments/|tools/' "a driver includes what is built on it"
check "console" 'sim/' "a window includes a simulated device"
report "pravik_core, which links without Qt, is built from a source in console/" "$(sed -n \
    '/^add_library(pravik_core/,/^)/p' CMakeLists.txt | grep -nE '(^|[[:space:]/])console/' || true)"

# Elsewhere than in the drivers, the simulations and the tests of both: a narrow string literal
# that begins with a shutter, SmartMotor or Omega/Athena command. Comments and wide message texts
# quoting a command for the technician (L"... \"RCKS\" ...") do not count.
mapfile -t sources < <(git ls-files '*.cpp' '*.h' 2>/dev/null ||
    find . \( -path ./build -o -path ./out \) -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
report "a device command spelled outside devices/ and sim/" "$(printf '%s\n' "${sources[@]}" |
    grep -vE '^(\./)?(devices|sim|tests|fuzz)/' | xargs -d '\n' awk '{ code = $0; sub(/(^|[ \t])\/\/.*/, "", code) }
    code ~ /(^|[^L\\])"(#0|!0|\*[RWXZ]|GOSUB|[gd]=|SADDR|(RP|RPA|ECHO|ECHO_OFF|Z|RCKS|UP|LOAD)([^A-Za-z0-9_]|$))/ {
        print FILENAME ":" FNR ": " $0 }')"

[ "${violations}" -eq 0 ] || { echo "${violations} place(s) point the wrong way" && exit 1; }
echo "layers: every include points down and every device command is in its driver"
