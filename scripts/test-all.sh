#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
#   --sanitize  builds into build-san/ with AddressSanitizer (leaks included)
#               and UndefinedBehaviorSanitizer, the benchmarks and fuzz
#               targets left out, and runs every test there: any sanitizer
#               report, from a test or from a program it starts, fails it.
set -euo pipefail
cd "$(dirname "$0")/.."
sanitize=0
case "${1:-}" in
  "") ;;
  --sanitize) sanitize=1 ;;
  *) echo "usage: $0 [--sanitize]" >&2; exit 2 ;;
esac
bash scripts/deps.sh
if [ "$sanitize" -eq 0 ]; then
  bash scripts/build.sh
  cd build
  ctest --output-on-failure -j"$(nproc)" --timeout 900
else
  cmake -S . -B build-san -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMO_SANITIZE=ON -DVELMO_BUILD_BENCH=OFF >/dev/null
  cmake --build build-san -j"$(nproc)"
  cd build-san
  QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"${CTEST_PARALLEL_LEVEL:-$(nproc)}" --timeout 1800
fi
