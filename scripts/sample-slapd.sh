#!/usr/bin/env bash
# Serves the sample organisation (sample/directory) from a private slapd on
# a free loopback port. It never touches a system slapd: everything lives in
# the folder DIR given on the command line.
#
#   sample-slapd.sh start DIR [--large N] [--no-anonymous] [--sizelimit N] [--port P] [--add FILE]
#       Writes DIR/slapd.conf, loads the data into DIR/db, starts
#       /usr/sbin/slapd -h ldap://127.0.0.1:PORT/, waits until it answers,
#       writes DIR/ldaphosts.conf (EX1, EX2 and EX10 mapped to that URL) and
#       DIR/port, and prints the port. An instance already running in DIR is
#       stopped first.
#         --large N        adds a recipients container "cn=Bulk" of N
#                          mailboxes (and two smaller ones), for benchmarks
#         --no-anonymous   refuses anonymous binds
#         --sizelimit N    answers at most N entries per search
#         --port P         listens on P instead of a free port
#         --add FILE       loads the entries of the LDIF file FILE too
#   sample-slapd.sh restart DIR
#       Stops the instance of DIR and starts it again on the same port with
#       the data it has (connections to it are dropped).
#   sample-slapd.sh stop DIR
#       Stops the instance of DIR (only the slapd whose pid DIR/slapd.pid
#       names, and only when it runs from DIR's configuration).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
sample="$root/sample/directory"
SLAPD=${SLAPD:-/usr/sbin/slapd}
SLAPADD=${SLAPADD:-/usr/sbin/slapadd}

usage() {
  sed -n '2,25p' "$0" >&2
  exit 2
}

# The pid of DIR's running slapd, or nothing.
instance_pid() {
  local dir=$1 pid
  [ -f "$dir/slapd.pid" ] || return 0
  pid=$(cat "$dir/slapd.pid" 2>/dev/null || true)
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 0
  if tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "$dir/slapd.conf"; then
    echo "$pid"
  fi
}

stop_instance() {
  local dir=$1 pid i
  pid=$(instance_pid "$dir")
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    for i in $(seq 1 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/slapd.pid" "$dir/slapd.args"
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# Waits until the server at URL answers (any LDAP result counts, a refused
# anonymous bind included).
wait_answer() {
  local url=$1 i rc
  for i in $(seq 1 150); do
    rc=0
    ldapsearch -x -LLL -o nettimeout=2 -H "$url" -b "" -s base "(objectClass=*)" namingContexts \
      >/dev/null 2>&1 || rc=$?
    [ "$rc" -ne 255 ] && return 0
    sleep 0.1
  done
  return 1
}

# Starts slapd on PORT (a free one when empty); prints the port used.
launch() {
  local dir=$1 want=$2 port attempt
  for attempt in 1 2 3 4 5; do
    port=${want:-$(free_port)}
    if "$SLAPD" -h "ldap://127.0.0.1:$port/" -f "$dir/slapd.conf" 2>"$dir/slapd.err"; then
      if wait_answer "ldap://127.0.0.1:$port"; then
        echo "$port"
        return 0
      fi
      stop_instance "$dir"
    fi
    [ -n "$want" ] && break
  done
  echo "sample-slapd: slapd did not start (see $dir/slapd.err)" >&2
  return 1
}

write_hosts() {
  local dir=$1 port=$2 name
  : >"$dir/ldaphosts.conf.new"
  for name in EX1 EX2 EX10; do
    echo "$name ldap://127.0.0.1:$port" >>"$dir/ldaphosts.conf.new"
  done
  mv "$dir/ldaphosts.conf.new" "$dir/ldaphosts.conf"
  echo "$port" >"$dir/port"
}

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || usage
shift 2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

case "$cmd" in
  start)
    large="" anonymous="" sizelimit="unlimited" port="" extra=""
    while [ $# -gt 0 ]; do
      case "$1" in
        --large) large=${2:?}; shift 2 ;;
        --no-anonymous) anonymous="disallow bind_anon"; shift ;;
        --sizelimit) sizelimit=${2:?}; shift 2 ;;
        --port) port=${2:?}; shift 2 ;;
        --add) extra=${2:?}; shift 2 ;;
        *) usage ;;
      esac
    done
    stop_instance "$dir"
    rm -rf "$dir/db" "$dir/ldaphosts.conf" "$dir/port"
    mkdir -p "$dir/db/org" "$dir/db/administrator" "$dir/db/jsmith" "$dir/db/admin"
    sed -e "s|@STATE@|$dir|g" -e "s|@SCHEMA@|$sample/exchange.schema|g" \
        -e "s|@SIZELIMIT@|$sizelimit|g" -e "s|@ANONYMOUS@|$anonymous|g" \
        "$sample/slapd.conf.in" >"$dir/slapd.conf"
    org_ldif="$sample/velmor.ldif"
    if [ -n "$large" ]; then
      org_ldif="$dir/large.ldif"
      python3 "$sample/make_sample.py" --large "$large" "$org_ldif"
    fi
    "$SLAPADD" -q -f "$dir/slapd.conf" -b "o=Velmor" -l "$org_ldif" >"$dir/slapadd.log" 2>&1 ||
      { cat "$dir/slapadd.log" >&2; exit 1; }
    if [ -n "$extra" ]; then
      "$SLAPADD" -q -f "$dir/slapd.conf" -b "o=Velmor" -l "$extra" >>"$dir/slapadd.log" 2>&1 ||
        { cat "$dir/slapadd.log" >&2; exit 1; }
    fi
    for logon in administrator:Administrator jsmith:jsmith admin:admin; do
      "$SLAPADD" -q -f "$dir/slapd.conf" -b "cn=${logon#*:}" -l "$sample/logon-${logon%%:*}.ldif" \
        >>"$dir/slapadd.log" 2>&1 || { cat "$dir/slapadd.log" >&2; exit 1; }
    done
    port=$(launch "$dir" "$port")
    write_hosts "$dir" "$port"
    echo "$port"
    ;;
  restart)
    [ -f "$dir/port" ] && [ -f "$dir/slapd.conf" ] || { echo "sample-slapd: nothing to restart in $dir" >&2; exit 1; }
    port=$(cat "$dir/port")
    stop_instance "$dir"
    launch "$dir" "$port" >/dev/null
    echo "$port"
    ;;
  stop)
    stop_instance "$dir"
    ;;
  *)
    usage
    ;;
esac
