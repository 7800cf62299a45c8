#!/usr/bin/env bash
# Runs the shipped example in a scratch copy, so that the repository stays clean.
set -euo pipefail
build_dir="${1:-build}"
root="$(cd "$(dirname "$0")/.." && pwd)"
example="$root/examples/dilute-gas"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/hardgas-demo-XXXXXX")"
cp "$example"/config.json "$example"/particles_config.json "$example"/particles_init.json "$scratch"/
echo "Running the example '$(basename "$example")' in $scratch"
"$root/$build_dir/hardgas" "$scratch"
echo
echo "Done. The outputs are in $scratch:"
ls -l "$scratch"
