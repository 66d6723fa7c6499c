#!/usr/bin/env bash
# The project's one entry point.
#   bash build.sh demo    install what is needed, build everything, pack the
#                         demo setup and run it under Wine
#   bash build.sh test    install what is needed, build everything, run every test
#   bash build.sh build   build only (assumes the tools are installed)
#   bash build.sh package build, then write zqpack's Debian package and the
#                         zip of zqpack.exe into out/
#   bash build.sh deps    install the Debian packages and fetch the sources of
#                         zlib, libmspack and tinyxml2 (for the Windows builds)
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

deps() {
  if [ "$(id -u)" = 0 ]; then
    bash tools/install-deps.sh
  else
    echo "note: not root, skipping package installation"
  fi
  bash tools/fetch-source.sh zlib "$ROOT/build/zlib-src" inflate.c
  bash tools/fetch-source.sh libmspack "$ROOT/build/libmspack-src" mspack/cabd.c 0.11
  bash tools/fetch-source.sh tinyxml2 "$ROOT/build/tinyxml2-src" tinyxml2.cpp
}

configure_and_build() {  # NAME [cmake args...]
  local name=$1; shift
  cmake -S "$ROOT" -B "$ROOT/build/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DZLIB_SOURCE_DIR="$ROOT/build/zlib-src" -DMSPACK_SOURCE_DIR="$ROOT/build/libmspack-src" \
        -DTINYXML2_SOURCE_DIR="$ROOT/build/tinyxml2-src" "$@" >"$ROOT/build/$name.configure.log" 2>&1 || {
    cat "$ROOT/build/$name.configure.log" >&2; return 1; }
  local rc=0
  cmake --build "$ROOT/build/$name" -j "$JOBS" >"$ROOT/build/$name.build.log" 2>&1 || rc=$?
  grep -vE '^\[[0-9]+/[0-9]+\]|^ninja: ' "$ROOT/build/$name.build.log" || true
  return $rc
}

build() {
  mkdir -p build out
  configure_and_build win-i686 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686.cmake"
  configure_and_build win-x86_64 -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-x86_64.cmake"
  configure_and_build host
}

package() {
  # The archives' time stamps: the commit's time, so that the same commit
  # packs the same bytes (a source tree without git brings its own).
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || date +%s)}
  export SOURCE_DATE_EPOCH
  build
  rm -rf build/host/package out/zqpack_*.deb out/zqpack-*-win64.zip
  cpack --config build/host/CPackConfig.cmake -B build/host/package >build/package.log 2>&1 || {
    cat build/package.log >&2; return 1; }
  cp build/host/package/zqpack_*.deb out/
  cmake --build build/win-x86_64 --target zqpack_zip >>build/package.log 2>&1 || {
    cat build/package.log >&2; return 1; }
  ls -l out/zqpack_*.deb out/zqpack-*-win64.zip
}

case "${1:-}" in
  deps) deps ;;
  build) build ;;
  package) package ;;
  demo) deps; build; bash demo/run-demo.sh ;;
  test)
    deps; build
    cd build/host
    ctest --output-on-failure -j "${ZQ_TEST_JOBS:-2}" ;;
  *) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
