#!/usr/bin/env bash
# zqpack's Debian package as a user gets it: its control fields and files,
# its manual page in step with the installed zqpack's --help, both programs
# proper built in, and the installed zqpack end to end: init an example,
# add a CAB file, check, build, verify (text and JSON), extract to the byte.
#   package_test.sh HOST_BUILD_DIR OUT_DIR CAB_FILE MAKE_MANPAGE_SCRIPT
set -euo pipefail
build=$1 out=$2 cab_source=$3 make_manpage=$4
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
dpkg-deb -f "$deb" Depends | grep -q 'zlib1g' || fail "Depends lacks zlib1g: $(dpkg-deb -f "$deb" Depends)"

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
wanted=$(printf '%s\n' ./usr/bin/zqpack ./usr/share/doc/zqpack/copyright ./usr/share/doc/zqpack/setup-ini.md \
  ./usr/share/man/man1/zqpack.1.gz | sort)
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

# Both programs proper are built in: a build for each begins with it.
for arch in i686 x86_64; do
  "$zq" --version | grep -qx "program proper $arch: built in" || fail "$arch is not built in: $("$zq" --version)"
done

product=$work/product
"$zq" -q init "$product" --product "Package Test"
cab=$(sed -n 's/^CabFiles = //p' "$product/Setup.ini" | tr -d '\r')
cp "$cab_source" "$product/$cab"
checked=$("$zq" check "$product/Setup.ini")
[ "$checked" = "$product/Setup.ini: 0 errors, 0 warnings" ] || fail "check: $checked"
for arch in i686 x86_64; do
  setup=$work/setup-$arch.exe
  "$zq" -q build "$product/Setup.ini" --arch "$arch" -o "$setup"
  cmp -n 32768 "$setup" "$out/zqstub-$arch.exe" || fail "the $arch setup does not begin with out/zqstub-$arch.exe"
  "$zq" -q verify "$setup" || fail "verify refused the $arch setup"
  "$zq" verify --json "$setup" | grep -q '"accepted": true' || fail "verify --json did not accept the $arch setup"
done
"$zq" -q extract "$work/setup-i686.exe" -C "$work/extracted"
for name in license.rtf body.bmp head.bmp Setup.ini "$cab"; do
  cmp "$product/$name" "$work/extracted/$name" || fail "$name came back changed"
done
[ "$(ls "$work/extracted" | wc -l)" = 5 ] || fail "extract wrote: $(ls "$work/extracted")"
rm -rf "$work"
echo "package $(basename "$deb"): installed and used"
