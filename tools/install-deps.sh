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
          nlohmann-json3-dev osslsigncode openssl libdeflate-dev
          libmspack-dev libtinyxml2-dev libgcab-dev zip python3-jinja2 libcli11-dev)
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
# 32-bit programs where the kernel refuses them: some kernels are built
# without i386 ELF support ("Exec format error"), so 32-bit Wine cannot start.
# qemu-user-static runs them instead, through a binfmt_misc handler for i386
# ELF (Debian's package registers none for i386 on amd64).  The F flag opens
# the emulator now, so it serves every mount namespace.  A kernel that runs
# i386 programs itself is left as it is.
i386_probe=/lib/ld-linux.so.2  # a 32-bit program that wine32 brings along
if [ -x "$i386_probe" ] && ! "$i386_probe" --version >/dev/null 2>&1; then
  why=$("$i386_probe" --version 2>&1 >/dev/null)
  case "$why" in
    *"Exec format error"*|*"cannot execute binary file"*)
      echo "the kernel refuses 32-bit programs; they run under qemu-i386"
      dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "install ok installed" ||
        apt-get install -y -q --no-install-recommends qemu-user-static >/dev/null 2>&1 ||
        echo "note: qemu-user-static could not be installed"
      binfmt=/proc/sys/fs/binfmt_misc
      [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
      # A handler of that name that is disabled is enabled; one that still
      # does not run the program is replaced.
      [ -e "$binfmt/qemu-i386" ] && echo 1 >"$binfmt/qemu-i386" 2>/dev/null
      if [ -e "$binfmt/qemu-i386" ] && ! "$i386_probe" --version >/dev/null 2>&1; then
        echo -1 >"$binfmt/qemu-i386" 2>/dev/null || true
      fi
      if [ ! -e "$binfmt/qemu-i386" ] && [ -e "$binfmt/register" ] && [ -x /usr/bin/qemu-i386-static ]; then
        # The i386 ELF header: class 32-bit, little-endian, version 1, type
        # executable or shared object, machine 3 (80386).
        echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
          >"$binfmt/register" 2>/dev/null || true
      fi
      if "$i386_probe" --version >/dev/null 2>&1; then
        echo "32-bit programs run under qemu-i386 (binfmt_misc handler qemu-i386)"
      else
        echo "note: 32-bit programs cannot run here; the i686 build will not run under Wine"
      fi ;;
  esac
fi
exit 0
