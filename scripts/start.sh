#!/usr/bin/env bash
# Installs what is missing, builds Tavrin and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
exec "${TAVRIN_BUILD_DIR:-build}/tavrin"
