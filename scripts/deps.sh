#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the sample directory
# need, when any is missing.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  qt6-base-dev libgl-dev
  libsqlitecpp-dev libsqlite3-dev sqlite3
  libxml2-dev
  libldap-dev slapd ldap-utils
  libgtest-dev googletest
  cron
  clang
  poppler-utils
  xvfb xdotool
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
