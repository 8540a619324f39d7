#!/usr/bin/env bash
# The Debian package as a technician meets it: packed from this build, installed with apt-get,
# the three programs run from where it put them (the console offscreen for a second), then
# removed, after which none of its files may be left. Installing needs root: as anyone else, or
# where a pravik package is installed already (it would be replaced and removed), it skips.
# Usage: package_install.sh CPACK CPACK_CONFIG VERSION
set -euo pipefail
cpack=$1
config=$2
version=$3
skip=77

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing the package needs root (scripts/test runs this as root on CI)"
    exit "${skip}"
fi
if dpkg-query -W -f='${Status}' pravik 2>/dev/null | grep -q installed; then
    echo "skipped: a pravik package is installed on this machine; this test would remove it"
    exit "${skip}"
fi

# The folder is apt's to read as its unprivileged _apt user, and the programs' HOME.
work=$(mktemp -d)
chmod 0755 "${work}"
sim=
cleanup() {
    [ -z "${sim}" ] || kill "${sim}" 2>/dev/null || true
    if dpkg-query -W -f='${Status}' pravik 2>/dev/null | grep -q installed; then
        apt-get remove -y -q pravik >/dev/null 2>&1 || true
    fi
    rm -rf "${work}"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"${cpack}" --config "${config}" -B "${work}" >"${work}/cpack.log" 2>&1 || {
    cat "${work}/cpack.log"
    fail "cpack did not make the package"
}
cd "${work}"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends ./pravik_*.deb \
    >apt.log 2>&1 || {
    cat apt.log
    fail "apt-get could not install the package"
}
mapfile -t installed < <(dpkg-query -L pravik)

# As a technician starts them: from PATH's /usr/bin, with a home of their own and no display.
export HOME="${work}/home" XDG_CONFIG_HOME="${work}/home/.config" PRAVIK_PORT_DIR="${work}/ports"
unset DISPLAY WAYLAND_DISPLAY XDG_RUNTIME_DIR
mkdir -p "${HOME}"
for program in pravik pravikctl pravik-sim; do
    [ "$(command -v "${program}")" = "/usr/bin/${program}" ] || fail "${program} is not in /usr/bin"
    answer=$("${program}" --version) || fail "${program} --version failed"
    [ "${answer}" = "${program} ${version}" ] || fail "${program} --version said: ${answer}"
done

exec {bench}< <(exec pravik-sim motor=COM3 omega=COM4 2>&1)
sim=$!
started=0
while IFS= read -r -t 20 -u "${bench}" line; do
    [[ "${line}" == Running* ]] && started=1 && break
done
[ "${started}" -eq 1 ] || fail "pravik-sim did not start its bench"
pravikctl check --instrument multi --motor COM3 --controller COM4 >check.log 2>&1 || {
    cat check.log
    fail "pravikctl check failed against pravik-sim"
}
kill "${sim}"
sim=

# Still running after a second is what is asked: it found its libraries, plugins and window.
status=0
QT_QPA_PLATFORM=offscreen timeout 1 pravik >pravik.log 2>&1 || status=$?
[ "${status}" -eq 124 ] || {
    cat pravik.log
    fail "pravik ended within a second (status ${status})"
}

apt-get remove -y -q pravik >apt.log 2>&1 || {
    cat apt.log
    fail "apt-get could not remove the package"
}
state=$(dpkg-query -W -f='${Status}' pravik 2>/dev/null || true)
case "${state}" in "" | *not-installed) ;; *) fail "after removal dpkg still holds: ${state}" ;; esac
left=0
for path in "${installed[@]}"; do
    # Folders the package shares with others (/usr/bin, the icon theme) stay, its own go.
    if [ -e "${path}" ] && { [ ! -d "${path}" ] || [[ "${path}" == */pravik ]]; }; then
        echo "left behind: ${path}" >&2
        left=1
    fi
done
[ "${left}" -eq 0 ] || fail "files of the package remain after its removal"
echo "installed ${#installed[@]} paths from pravik_${version}, ran the programs, removed them all"
