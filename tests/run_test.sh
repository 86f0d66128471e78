#!/bin/sh
# tests/run on a machine that lacks a package and cannot install it (apt-get
# fails): it says which, says how to install it, and fails without building.
#   sh tests/run_test.sh tests/run
set -u
stubs=$(mktemp -d)
trap 'rm -rf "$stubs"' EXIT
printf '#!/bin/sh\n[ "$2" != nlohmann-json3-dev ]\n' >"$stubs/dpkg"
for command in apt-get sudo; do printf '#!/bin/sh\nexit 1\n' >"$stubs/$command"; done
printf '#!/bin/sh\ntouch "%s/built"\n' "$stubs" >"$stubs/cmake"
chmod +x "$stubs"/*
said=$(PATH="$stubs:$PATH" "$1" -B "$stubs/build" 2>&1)
status=$?
printf '%s\n' "$said"
[ "$status" -eq 1 ] && [ ! -e "$stubs/built" ] &&
  printf '%s\n' "$said" | grep -q 'lacks: nlohmann-json3-dev$' &&
  printf '%s\n' "$said" | grep -q '^  apt-get install nlohmann-json3-dev$'
