#!/usr/bin/env bash
# Writes pravikctl's man page from its own --help texts: the program's with help2man, and a
# COMMANDS section with each command's, so that the page and the help can never disagree.
# Usage: make-manpage.sh PRAVIKCTL OUTPUT
set -euo pipefail
program=$1
output=$2
include=$(mktemp)
trap 'rm -f "${include}"' EXIT

{
    echo "[COMMANDS]"
    for command in ports identify check "omega save" "omega reset" "threshold get" \
        "threshold set" "threshold search" "motor backup" "motor load"; do
        # shellcheck disable=SC2086
        help=$("${program}" ${command} --help)
        echo ".SS \"${command}\""
        echo "${help}" | head -1
        echo ".PP"
        echo ".nf"
        # The usage and options, as --help prints them; a leading dot or quote would be roff.
        echo "${help}" | tail -n +2 | sed -e '/^Ports are named/d' -e 's/\\/\\e/g' -e 's/-/\\-/g' \
            -e "s/^\([.']\)/\\\\\&\1/"
        echo ".fi"
    done
    echo "[FILES]"
    echo ".TP"
    echo ".I ~/.config/Pravik/ports"
    echo "the port map the console and pravikctl share: which adapter has which COM number"
    echo "[SEE ALSO]"
    echo ".BR pravik (1),"
    echo ".BR pravik-sim (1)"
} >"${include}"

help2man --no-info --name="check Pravik bench instruments from a shell" \
    --version-string="$("${program}" --version | cut -d' ' -f2)" \
    --include="${include}" --output="${output}" "${program}"
