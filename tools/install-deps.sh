#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (run as
# root).  Safe to run again: packages already there are skipped quickly.
# 32-bit Wine is tried but never required: when the archive's i386 indexes
# are out of step, apt-get update exits non-zero and wine32 stays away.
set -u
export DEBIAN_FRONTEND=noninteractive
packages=(cmake make g++ ninja-build libgtest-dev zlib1g-dev
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
          wine wine64 xvfb xauth x11-utils imagemagick gcab nsis
          clang libclang-rt-14-dev gnuplot-nox dpkg-dev ca-certificates
          nlohmann-json3-dev osslsigncode openssl libdeflate-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -q || echo "note: apt-get update reported an error; going on with the lists it has"
  apt-get install -y -q --no-install-recommends "${missing[@]}" || {
    echo "error: could not install ${missing[*]}" >&2; exit 1; }
fi
# 32-bit Wine, for the i686 build's tests: optional.
if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  if [ "${ZQ_SKIP_WINE32:-0}" != 1 ]; then
    dpkg --add-architecture i386 2>/dev/null || true
    apt-get update -q >/dev/null 2>&1 || true
    if apt-get install -y -q --no-install-recommends wine32:i386 >/dev/null 2>&1; then
      echo "32-bit Wine installed"
    else
      echo "note: 32-bit Wine could not be installed; the i686 build will not run under Wine"
    fi
  fi
fi
exit 0
