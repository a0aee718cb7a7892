#!/bin/sh
# Builds the web edition into OUT_DIR (default build/web): the core and the program's logic as
# a WebAssembly module with Debian's Emscripten, and the page's static files beside it.
# DC_WEB_TEST_EXPORTS=ON adds the calls only the browser tests and the benchmark make.
# Usage: web/build.sh [OUT_DIR] [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
out_dir=$(realpath -m "${1:-build/web}")
build_dir=${2:-build/web-build}
# Debian's emcc runs Node scripts that need Debian's own modules (acorn), which a Node.js from
# elsewhere does not look for.
if [ -d /usr/share/nodejs ]; then
    export NODE_PATH="/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}"
fi
emcmake cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DDC_WITH_GUI=OFF \
    -DBUILD_TESTING=OFF -DDC_WERROR="${DC_WERROR:-OFF}" \
    -DDC_WEB_TEST_EXPORTS="${DC_WEB_TEST_EXPORTS:-OFF}" -DDC_WEB_OUTPUT_DIR="$out_dir" >/dev/null
cmake --build "$build_dir" -j"${JOBS:-2}"
echo "The page is in $out_dir"
