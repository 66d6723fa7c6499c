#!/usr/bin/env bash
# zqpack's Debian package as a user gets it: its control fields and files,
# its manual page in step with the installed zqpack's --help, and the
# installed zqpack with both programs proper built in, on the publisher's road
# with nothing from Windows: init an example, make its CAB file, build for
# each architecture, verify, and run one under Wine with the packaged driver
# and stand-in.  (Everything else zqpack does: the host and Wine tests.)
#   package_test.sh HOST_BUILD_DIR OUT_DIR MAKE_MANPAGE_SCRIPT
set -euo pipefail
build=$1 out=$2 make_manpage=$3
work=$build/tests/package/tmp
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2; fail "cpack could not make the package"; }
deb=$(echo "$work"/cpack/zqpack_*_*.deb)
[ -f "$deb" ] || fail "no zqpack_VERSION_ARCH.deb in $work/cpack"
[ "$(dpkg-deb -f "$deb" Package)" = zqpack ] || fail "Package: $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$(basename "$deb" | cut -d_ -f2)" ] || fail "Version differs from the file name"
# tinyxml2 is a shared library (Debian has no static one); libmspack is linked in.
depends=$(dpkg-deb -f "$deb" Depends)
for dep in zlib1g libtinyxml2 'libgcab-1.0-0 (>= 1.5)'; do
  [[ "$depends" == *"$dep"* ]] || fail "Depends lacks $dep: $depends"
done
[[ "$depends" != *libmspack* ]] || fail "Depends names libmspack: $depends"
dpkg-deb -f "$deb" Suggests | grep -q 'xvfb' || fail "Suggests lacks xvfb: $(dpkg-deb -f "$deb" Suggests)"

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
wanted=$(printf '%s\n' ./usr/bin/zqpack ./usr/share/doc/zqpack/copyright ./usr/share/doc/zqpack/setup-ini.md \
  ./usr/share/doc/zqpack/cab-inf.md \
  ./usr/share/man/man1/zqpack.1.gz ./usr/lib/zqpack/i686/{zqprobe.dll,CeAppMgr.exe} \
  ./usr/lib/zqpack/x86_64/{zqdriver.exe,CeAppMgr.exe,zqprobe.dll} | sort)
[ "$files" = "$wanted" ] || fail "the package holds:
$files
wanted:
$wanted"

root=$work/root
dpkg-deb -x "$deb" "$root"
zq=$root/usr/bin/zqpack

# The manual page says what the installed zqpack's --help texts say.
gzip -dc "$root/usr/share/man/man1/zqpack.1.gz" >"$work/packaged.1"
cmake -DZQPACK="$zq" -DOUTPUT="$work/current.1" -P "$make_manpage"
diff -u "$work/current.1" "$work/packaged.1" >&2 || fail "the manual page and zqpack --help differ"
for command in $("$zq" --help | sed -n '/^Commands:/,/^$/p' | awk 'NF > 1 {print $1}'); do
  grep -qx "\.SS $command" "$work/packaged.1" || fail "the manual page lacks the command $command"
done

product=$work/product
"$zq" -q init "$product" --product "Package Test"
cab=$(sed -n 's/^CabFiles = //p' "$product/Setup.ini" | tr -d '\r')
"$zq" cab "$product/${cab%.CAB}.inf" >"$work/cab.log" || fail "cab: $(cat "$work/cab.log")"
for arch in i686 x86_64; do
  setup=$work/setup-$arch.exe
  "$zq" -q build "$product/Setup.ini" --arch "$arch" -o "$setup"
  cmp -n 32768 "$setup" "$out/zqstub-$arch.exe" || fail "the $arch setup does not begin with out/zqstub-$arch.exe"
  "$zq" -q verify "$setup" || fail "verify refused the $arch setup"
done
# Its Wine prefix in this build folder, kept for the next run.
XDG_CACHE_HOME=$build/tests/package/cache "$zq" run "$work/setup-x86_64.exe" >"$work/run.log" 2>&1 || {
  cat "$work/run.log" >&2; fail "zqpack run did not see a complete hand-off"; }
grep -F "  $cab " "$work/run.log" | grep -q 'same as packed$' || fail "zqpack run: $(cat "$work/run.log")"
rm -rf "$work"
echo "package $(basename "$deb"): installed and used"
