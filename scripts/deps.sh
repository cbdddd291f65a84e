#!/usr/bin/env bash
# Installs the Debian packages Quillpost needs to build, test and run, when any is missing.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev qt6-base-dev libgl-dev
          python3-aiosmtpd xvfb fonts-dejavu-extra clang libclang-rt-14-dev curl make)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -q
  $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
