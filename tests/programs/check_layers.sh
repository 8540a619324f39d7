#!/usr/bin/env bash
# The folders' layering, read from the includes: arrows point down only. Headless code (the
# layers under the windows) includes no Qt header and nothing from the windows, the simulated
# devices, the benchmarks or the tests; drivers include nothing from the instruments or tools
# built on them; the windows include no simulated device; the headless library takes no source
# from the windows' folder. Prints each violation and fails.
set -euo pipefail
root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
cd "${root}"

violations=0
# folders | what their includes must not match | why
check() {
    local folders=$1 pattern=$2 why=$3 hits
    # shellcheck disable=SC2086
    hits=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"](${pattern})" ${folders} \
        --include='*.h' --include='*.cpp' || true)
    if [ -n "${hits}" ]; then
        echo "${why}:"
        echo "${hits}" | sed 's/^/  /'
        violations=$((violations + $(echo "${hits}" | wc -l)))
    fi
}

check "platform serial devices instruments tools" 'Q[A-Za-z]|qt|console/|sim/|bench/|tests/' \
    "headless code includes a window, Qt, a simulated device, a benchmark or a test"
check "devices" 'instruments/|tools/' "a driver includes what is built on it"
check "console" 'sim/' "a window includes a simulated device"

# The headless library is built from the headless folders only.
core=$(sed -n '/^add_library(pravik_core/,/^)/p' CMakeLists.txt | grep -nE '(^|[[:space:]/])console/' || true)
if [ -n "${core}" ]; then
    echo "pravik_core is built from a source in console/:"
    echo "${core}" | sed 's/^/  /'
    violations=$((violations + $(echo "${core}" | wc -l)))
fi

if [ "${violations}" -gt 0 ]; then
    echo "${violations} place(s) point the wrong way"
    exit 1
fi
echo "layers: every include points down"
