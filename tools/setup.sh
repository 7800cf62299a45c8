#!/usr/bin/env bash
# Installs, from Debian's packages and npm, everything that building, testing and
# running the examples need. Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
    g++ make cmake ninja-build
    nlohmann-json3-dev libgtest-dev libcli11-dev
    clang libclang-rt-14-dev
    python3 python3-numpy python3-matplotlib python3-pandas python3-ase python3-gsd
    python3-venv python3-pip python3-setuptools python3-wheel
    chromium
    snakemake slurm-wlm munge
)
# hardgas-view's page and its browser test run on three.js and playwright-core from npm; a
# Node.js installed another way is kept.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Python package in .venv, a virtual environment that sees Debian's numpy, matplotlib and
# pandas (Debian's own python3 refuses a system-wide pip install); installed without network,
# and again whenever python/ has changed since.
root="$(cd "$(dirname "$0")/.." && pwd)"
stamp="$root/.venv/hardgas-installed"
if [ ! -f "$stamp" ] || [ -n "$(find "$root/python" -newer "$stamp" -print -quit)" ]; then
    [ -x "$root/.venv/bin/python" ] || /usr/bin/python3 -m venv --system-site-packages "$root/.venv"
    "$root/.venv/bin/python" -m pip install -q --no-index --no-build-isolation "$root/python" >/dev/null
    touch "$stamp"
fi

# The npm packages of hardgas-view in tools/view/node_modules, exactly as package-lock.json
# lists them, and again whenever the lock file has changed since.
view="$root/tools/view"
npm_stamp="$view/node_modules/.hardgas-installed"
if [ ! -f "$npm_stamp" ] || [ "$view/package-lock.json" -nt "$npm_stamp" ]; then
    (cd "$view" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
    touch "$npm_stamp"
fi
