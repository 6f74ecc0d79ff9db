#!/usr/bin/env bash
# run_fuzz.sh build SOURCE_DIR WORK_DIR
#   Builds the fuzz targets with clang++ -fsanitize=fuzzer,address
#   (installing clang when it is missing and this is possible); without
#   clang nothing is built and the runs below are skipped.
# run_fuzz.sh run SOURCE_DIR WORK_DIR TARGET SECONDS
#   Runs one target for SECONDS on its own corpus, seeded with well-formed
#   and damaged inputs. Exits 77 (skipped) when the target was not built.
set -euo pipefail
mode=$1
src=$2
work=$3
build="$work/fuzz-build"

if [ "$mode" = build ]; then
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
    echo "clang++ is not available and could not be installed: the fuzz runs are skipped."
    rm -rf "$build"
    exit 0
  fi
  cmake -S "$src/tests/fuzz/target" -B "$build" -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_SOURCE_DIR="$src" >/dev/null
  cmake --build "$build" -j4
  exit 0
fi

target=$4
seconds=${5:-60}
if [ ! -x "$build/$target" ]; then
  echo "$target was not built (no clang): skipped."
  exit 77
fi
corpus="$work/corpus-$target"
mkdir -p "$corpus"
options=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/$target-")
case "$target" in
  fuzz_security_descriptor)
    "$build/fuzz_seeds" "$corpus"
    ;;
  fuzz_registry_export)
    cp "$src"/sample/providers/registry/*.reg "$corpus/"
    # A key at the depth limit and one beyond it.
    { printf 'REGEDIT4\n[HKEY_LOCAL_MACHINE'; for _ in $(seq 513); do printf '\\K'; done; printf ']\n'; } \
      >"$corpus/seed-deep"
    options+=(-max_len=16384 -timeout=10)
    ;;
  fuzz_provider_files)
    # The first byte picks the file, as the target reads it.
    i=0
    for f in network.txt accounts.txt profiles.txt stores/EX1.txt publicacl/EX1.txt; do
      { printf "\\x$(printf %02x $i)"; cat "$src/sample/providers/$f"; } >"$corpus/seed-$i"
      i=$((i + 1))
    done
    options+=(-max_len=16384 -timeout=10)
    ;;
  fuzz_sched_config)
    # A server line whose fields the 0xFF bytes part, then a task line's.
    printf 'EX1\xffDefault\xffEX1 Profile\xffExport\xff\xffCSV\xff/srv/out\xff12_09_2026_02_00_00\xffCORP\\ops\xff\xff02:00' \
      >"$corpus/seed-fields"
    printf 'Scheduled Servers\r\nEX1@@@R@@@P@@@Export@@@@@@CSV@@@/o@@@S\r\n' >"$corpus/seed-file"
    options+=(-max_len=4096 -timeout=10)
    ;;
esac
"$build/$target" "${options[@]}" "$corpus"
