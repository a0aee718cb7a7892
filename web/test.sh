#!/bin/sh
# Runs the browser tests of the web edition against WEB_DIR (default build/web-test, built
# with DC_WEB_TEST_EXPORTS=ON): Debian's chromium, headless, driven by playwright-core from npm
# (installed by `npm ci` from the lock file; no browser is downloaded). TOOL is the render tool the exports are compared with
# (default build/tools/doodlechorus-render).
# With --bench, runs the voice benchmark instead; TOOL is then the native voice_bench.
# Usage: web/test.sh [--bench] [WEB_DIR] [TOOL]
set -eu
bench=false
if [ "${1:-}" = --bench ]; then
    bench=true
    shift
fi
root=$(cd "$(dirname "$0")/.." && pwd)
export DC_WEB_ROOT="$(realpath "${1:-$root/build/web-test}")"
# Named before the cd below, so that a path relative to the caller's folder stays right.
if $bench; then
    tool=$(realpath "${2:-$root/build/bench/voice_bench}")
else
    tool=$(realpath "${2:-$root/build/tools/doodlechorus-render}")
fi
cd "$root/web"
# npm ci installs the lock file's versions; again only when the lock file has changed since.
if ! [ node_modules/.package-lock.json -nt package-lock.json ]; then
    npm ci --no-audit --no-fund
fi
if $bench; then
    exec node tests/bench.mjs "$tool"
fi
export DC_RENDER_TOOL="$tool"
exec node --test --test-concurrency=1 tests/
