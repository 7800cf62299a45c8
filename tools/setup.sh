#!/usr/bin/env bash
# Installs, from Debian's packages only, everything that building, testing and
# running the examples need. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
    g++ make cmake ninja-build
    nlohmann-json3-dev libgtest-dev libcli11-dev
    clang libclang-rt-14-dev
    python3 python3-numpy python3-matplotlib
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
