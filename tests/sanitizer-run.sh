#!/usr/bin/env bash
# Runs one test program of the sanitizer build (build-san/): sanitizer-run.sh
# PROGRAM [ARGS...]. The test and every program it starts (the main program,
# VLMRSchedule, vjobrun, the database helpers, also as another user) inherit
# the sanitizer options and write their reports into one folder made for
# this run; a report there fails the test, and is printed with the test's
# output. The folder is under the temporary folder and open to every user,
# so a program run as nobody can write its report too.
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/velmo-san.XXXXXX") || exit 1
chmod 755 "$work"
mkdir -m 1777 "$work/reports"
install -m 644 "$here/sanitizer.supp" "$work/sanitizer.supp"
log="log_path=$work/reports/report"
export ASAN_OPTIONS="$log:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$work/sanitizer.supp:print_suppressions=0"
export UBSAN_OPTIONS="$log:print_stacktrace=1:halt_on_error=1"

"$@"
rc=$?

reports=("$work"/reports/*)
if [ -e "${reports[0]}" ]; then
  for f in "${reports[@]}"; do
    echo "==== sanitizer report ${f##*/} ===="
    cat "$f"
  done >&2
  [ "$rc" -eq 0 ] && rc=1
fi
rm -rf "$work"
exit "$rc"
