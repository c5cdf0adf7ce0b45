#!/usr/bin/env bash
# Sets up a fresh Debian machine for Vistrel, builds it, and starts the stand-alone PC
# frame server (vistrel-receive) on port 2047. Extra arguments go to vistrel-receive.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" = 0 ]; then
  pkgs=$(cat .ci/packages/*.txt | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $pkgs
else
  echo "not root: skipping the package install (see .ci/packages/*.txt)" >&2
fi
cmake --preset default
cmake --build --preset default
exec build/default/bin/vistrel-receive --out frames "$@"
