#!/usr/bin/env bash
# Installs the Debian packages that building, testing, benchmarking and fuzzing
# need. A machine that has them all is left alone; otherwise, as root, the
# package lists are updated once and only the missing packages are installed.
# Then the browser tests' npm packages (tests/browser), pinned by their lock
# file, when they are not there yet.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev midicsv valgrind ardour
  libssl-dev libcurl4-openssl-dev libarchive-dev python3 openssl zip chromium
  libwebkit2gtk-4.1-dev libx11-dev libpng-dev xvfb xauth)

missing=()
# Node.js with npm runs the browser tests; any Node.js 20 or newer will do.
command -v npm >/dev/null || missing+=(nodejs npm)
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

browser_packages() {
  [[ -d tests/browser/node_modules ]] && return 0
  echo "setup: npm ci in tests/browser"
  (cd tests/browser && npm ci --no-audit --no-fund)
}

if [[ ${#missing[@]} -eq 0 ]]; then
  echo "setup: all ${#packages[@]} packages present"
  browser_packages
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
browser_packages
