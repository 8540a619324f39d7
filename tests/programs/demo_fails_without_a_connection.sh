#!/usr/bin/env bash
# pravik-demo against a bench whose "motor" port holds a shutter controller: the console cannot
# connect, so the demo must fail, and it must not leave files where it was started.
set -euo pipefail
sim=$1 demo=$2
work=$(mktemp -d)
trap 'kill "${pid}" 2>/dev/null; wait "${pid}" 2>/dev/null; rm -rf "${work}"' EXIT
mkdir -m 0700 "${work}/ports" "${work}/cwd"
"${sim}" --port-dir "${work}/ports" shutter30=COM3 omega=COM4 >/dev/null &
pid=$!
for _ in $(seq 100); do [ -e "${work}/ports/COM4" ] && break; sleep 0.05; done
cd "${work}/cwd"
status=0
PRAVIK_PORT_DIR="${work}/ports" PRAVIK_LOCK_DIR="${work}" QT_QPA_PLATFORM=offscreen "${demo}" \
    --motor 3 --controller 4 >/dev/null 2>&1 || status=$?
[ "${status}" -eq 1 ] || { echo "pravik-demo exited ${status} without a connection"; exit 1; }
[ -z "$(ls -A .)" ] || { echo "pravik-demo left files in its working folder: $(ls -A .)"; exit 1; }
echo "pravik-demo failed as it should"
