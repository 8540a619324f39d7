# Shared by the project's scripts: runs the headless suites once more as an ordinary user, the way
# a technician runs the program on a shared PC. Root gets past a terminal's exclusive flag and
# past file modes; an ordinary user does not, and the port and file code must be right for both.

unprivileged_user=pravik-ci

run_unprivileged() {
    local build=$1
    if [ "$(id -u)" -ne 0 ]; then
        echo "=== unprivileged run skipped: it needs root to make a throwaway user (this run is"
        echo "    already unprivileged, so the suites above ran as an ordinary user)"
        return 0
    fi
    if ! id "${unprivileged_user}" >/dev/null 2>&1; then
        useradd --system --user-group --no-create-home --home-dir /nonexistent \
            --shell /usr/sbin/nologin "${unprivileged_user}"
    fi
    # The build folder may sit under a home the user cannot enter: the test programs go to a
    # folder of their own.
    local dir
    dir=$(mktemp -d)
    chmod 0755 "${dir}"
    cp "${build}/tests/pravik_unit_tests" "${build}/tests/pravik_pty_tests" "${dir}/"
    echo "=== unit and pty suites as the unprivileged user ${unprivileged_user}"
    local status=0
    for suite in pravik_unit_tests pravik_pty_tests; do
        (cd "${dir}" && runuser -u "${unprivileged_user}" -- env -i PATH=/usr/bin:/bin \
            HOME="${dir}" TMPDIR=/tmp "./${suite}" --gtest_brief=1) || status=1
    done
    rm -rf "${dir}"
    return "${status}"
}
