# Shared by the project's scripts: installs missing Debian packages, saying which.

missing_packages() {
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "${pkg}" 2>/dev/null | grep -q 'install ok installed'; then
            echo "${pkg}"
        fi
    done
}

ensure_packages() {
    local missing
    missing=$(missing_packages "$@" | tr '\n' ' ')
    missing=${missing% }
    [ -n "${missing}" ] || return 0
    echo "Installing missing Debian packages: ${missing}"
    local run=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            run=(sudo)
        else
            echo "error: these packages are needed and this user cannot install them: ${missing}" >&2
            echo "       run as root: apt-get install ${missing}" >&2
            exit 1
        fi
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${run[@]}" apt-get update -q
    # shellcheck disable=SC2086
    "${run[@]}" apt-get install -y -q --no-install-recommends ${missing}
}
