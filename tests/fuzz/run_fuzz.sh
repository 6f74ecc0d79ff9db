#!/usr/bin/env bash
# run_fuzz.sh SOURCE_DIR WORK_DIR SECONDS
# Builds the descriptor fuzz target with clang++ -fsanitize=fuzzer,address
# (installing clang when it is missing and this is possible) and runs it
# for SECONDS on a corpus seeded with well-formed and damaged descriptors.
set -euo pipefail
src=$1
work=$2
seconds=${3:-60}

if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ not found; installing clang"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo -n"
  if command -v apt-get >/dev/null 2>&1; then
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends clang >/dev/null 2>&1 ||
      { $SUDO apt-get update >/dev/null 2>&1 &&
        $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends clang >/dev/null 2>&1; } ||
      true
  fi
fi
if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ is not available and could not be installed: the fuzz run is skipped."
  exit 0
fi

cmake -S "$src/tests/fuzz/target" -B "$work/fuzz-build" -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_SOURCE_DIR="$src" >/dev/null
cmake --build "$work/fuzz-build" -j4

corpus="$work/fuzz-corpus"
mkdir -p "$corpus"
"$work/fuzz-build/fuzz_seeds" "$corpus"
"$work/fuzz-build/fuzz_security_descriptor" -max_total_time="$seconds" -print_final_stats=1 \
  -artifact_prefix="$work/" "$corpus"
