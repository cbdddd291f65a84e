#!/usr/bin/env bash
# Quillpost's main job. For now: build everything.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
echo "Quillpost is built in build/. The window and the sender arrive with the next steps."
