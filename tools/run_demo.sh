#!/usr/bin/env bash
# Runs the first example in a scratch copy, so that the repository stays clean, and draws
# its figures.
set -euo pipefail
build_dir="${1:-build}"
root="$(cd "$(dirname "$0")/.." && pwd)"
example="$root/examples/dilute-gas"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/hardgas-demo-XXXXXX")"
cp "$example"/config.json "$example"/particles_config.json "$example"/particles_init.json "$scratch"/
echo "Running the example '$(basename "$example")' in $scratch (see $example/README.md)"
"$root/$build_dir/hardgas" "$scratch"
echo
echo
"$root/tools/hardgas-plot" "$scratch"
echo
echo "The run's outputs are in $scratch, its figures in $scratch/plots."
