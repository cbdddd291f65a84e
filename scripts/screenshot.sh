#!/usr/bin/env bash
# Opens the real Quillpost window on a virtual X display and saves a picture of it.
# Usage: scripts/screenshot.sh [OUTPUT.png]   (default docs/quillpost.png)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/quillpost.png}
scripts/deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target quillpost qp_screengrab -j "$(nproc)"
mkdir -p "$(dirname "$out")"

# A display number nobody uses.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done

work=$(mktemp -d)
cleanup() {
  [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb ":$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

# The program runs from a copy so that it keeps its account file away from the build.
cp build/src/app/quillpost "$work/"
DISPLAY=":$display" QT_QPA_PLATFORM=xcb "$work/quillpost" "mailto:ann@example.org?Subject=Hello" >/dev/null 2>&1 &
app_pid=$!
DISPLAY=":$display" QT_QPA_PLATFORM=xcb build/tests/app/qp_screengrab "$out"
echo "Saved $out"
