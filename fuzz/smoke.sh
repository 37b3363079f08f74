#!/usr/bin/env bash
# A short run of every fuzz target, for CI: 20 seconds each unless FUZZ_SECONDS says otherwise.
exec env FUZZ_SECONDS="${FUZZ_SECONDS:-20}" "$(dirname "$0")/run.sh" "$@"
