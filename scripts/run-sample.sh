#!/usr/bin/env bash
# Installs what is missing, builds the programs, starts the bundled sample
# organisation on a loopback port, and opens the program against it. The
# sample directory is stopped when the program ends.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/deps.sh
# Only the programs and what they load; scripts/build.sh builds the tests
# and benchmarks as well.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target velmo_programs

state=$(mktemp -d /tmp/velmorcast-sample.XXXXXX)
cleanup() {
  bash scripts/sample-slapd.sh stop "$state" >/dev/null 2>&1 || true
  rm -rf "$state"
}
trap cleanup EXIT
trap "exit 130" INT TERM

bash scripts/sample-slapd.sh start "$state" >/dev/null
export VELMORCAST_LDAP_HOSTS="$state/ldaphosts.conf"
export VELMORCAST_PROVIDERS="$root/sample/providers"
echo "Sample organisation running. Connect to server EX1 (or EX2, EX10)."
"$root/build/app/VELMORC"
