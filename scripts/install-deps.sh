#!/usr/bin/env bash
# Installs the Debian packages Corvane needs to build, run and test, when any is missing.
# Sourced by run.sh and test.sh; runs apt-get as root or through sudo.
set -euo pipefail

corvane_packages=(
    cmake g++ make pkg-config
    qtbase5-dev qtbase5-dev-tools
    libzip-dev libdeflate-dev libpugixml-dev libgsf-1-dev
    libgtest-dev
    python3 python3-openpyxl python3-xlsxwriter python3-xlrd python3-olefile python3-xlwt
    libreoffice-calc-nogui libreoffice-dev python3-uno
    xdg-utils fonts-wqy-microhei
    qttranslations5-l10n
)

corvane_missing=()
for p in "${corvane_packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        corvane_missing+=("$p")
    fi
done

if [ "${#corvane_missing[@]}" -gt 0 ]; then
    echo "Installing missing packages: ${corvane_missing[*]}"
    if [ "$(id -u)" -eq 0 ]; then sudo_cmd=(); else sudo_cmd=(sudo); fi
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${corvane_missing[@]}"
fi
