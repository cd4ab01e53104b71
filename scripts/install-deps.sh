#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the interoperability
# checks need. Does nothing when they are all present.
set -euo pipefail

packages=(
  cmake g++ make libgtest-dev          # build and unit tests
  python3 python3-dbfread              # independent .DBF reader
  perl libdbd-xbase-perl               # independent .DBF/.MDX reader (XBase, XBase::Index)
  libx12-parser-perl                   # independent X12 parser
  binutils                             # nm, to check the exported names
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
