#!/bin/sh
# Runs the browser tests of the web edition against WEB_DIR (default build/web): Debian's
# chromium, headless, driven by playwright-core from npm (installed by `npm ci` from the lock
# file; no browser is downloaded). The render tool for the comparisons is RENDER_TOOL (default
# build/tools/doodlechorus-render).
set -eu
cd "$(dirname "$0")"
export DC_WEB_ROOT=$(realpath "${1:-../build/web}")
export DC_RENDER_TOOL=$(realpath "${2:-../build/tools/doodlechorus-render}")
[ -d node_modules/playwright-core ] || npm ci --no-audit --no-fund
exec node --test --test-concurrency=1 tests/
