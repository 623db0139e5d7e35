#!/usr/bin/env bash
# Installs the Debian packages that building, testing, benchmarking and fuzzing
# need. A machine that has them all is left alone; otherwise, as root, the
# package lists are updated once and only the missing packages are installed.
set -euo pipefail

packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev midicsv valgrind ardour
  libssl-dev libcurl4-openssl-dev libarchive-dev python3 openssl zip)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: missing ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  echo "setup: run as root, or install them: apt-get install -y ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "${missing[@]}"
echo "setup: installed ${missing[*]}"
