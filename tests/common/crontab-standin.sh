#!/bin/sh
# Stands in for crontab(1) in tests: keeps the table in the file that
# VELMORCAST_CRONTAB_FILE names. "-l" prints it ("no crontab for" when there
# is none), "-" replaces it from standard input, "-r" removes it. Without a
# file named it fails, so nothing ever reaches a real crontab.
if [ -z "$VELMORCAST_CRONTAB_FILE" ]; then
  echo "crontab stand-in: VELMORCAST_CRONTAB_FILE is not set" >&2
  exit 2
fi
f=$VELMORCAST_CRONTAB_FILE
case "$1" in
  -l)
    if [ -f "$f" ]; then
      cat "$f"
    else
      echo "no crontab for $(id -un 2>/dev/null || echo user)" >&2
      exit 1
    fi
    ;;
  -)
    cat >"$f.new" && mv "$f.new" "$f"
    ;;
  -r)
    rm -f "$f"
    ;;
  *)
    echo "crontab stand-in: usage: crontab -l | - | -r" >&2
    exit 1
    ;;
esac
