#!/bin/sh
# pad-stub.sh IMAGE OUT ARCH: checks that the linked image fits the 32768
# bytes of the program proper and pads it with zero bytes to exactly that
# length.  The loader ignores bytes behind the last section.
#
# It also clears the PE header's CheckSum, which ld fills in: a signing tool
# rewrites that field and the certificate-table entry of the data
# directories, and StubChecksum counts both as zeros.  With zeros in both, a
# setup's StubChecksum is the plain one over every byte, as every other
# packer computes it.  The loader checks the
# CheckSum of drivers only, never of a program.
set -eu
image=$1 out=$2 arch=$3
limit=32768
used=$(stat -c %s "$image")
echo "program proper ($arch): $used of $limit bytes used"
if [ "$used" -gt "$limit" ]; then
  echo "error: the program proper ($arch) is $used bytes, over the $limit of the payload format" >&2
  exit 1
fi
mkdir -p "$(dirname "$out")"
cp "$image" "$out.tmp"
truncate -s "$limit" "$out.tmp"

u32() { od -An -tu4 -j "$1" -N4 "$out.tmp" | tr -d ' '; }
u16() { od -An -tu2 -j "$1" -N2 "$out.tmp" | tr -d ' '; }
fail() { echo "error: the program proper ($arch): $1" >&2; rm -f "$out.tmp"; exit 1; }
pe=$(u32 60)                     # e_lfanew
optional=$((pe + 24))            # behind "PE\0\0" and the file header
case $(u16 $optional) in
  267) directories=$((optional + 96)) ;;   # PE32
  523) directories=$((optional + 112)) ;;  # PE32+
  *) fail "no PE32 or PE32+ optional header at $optional" ;;
esac
checksum_at=$((optional + 64))
cert_at=$((directories + 4 * 8))  # data directory 4, the certificate table
[ "$(u32 $((directories - 4)))" -ge 5 ] || fail "fewer than five data directories"
printf '\000\000\000\000' | dd of="$out.tmp" bs=1 seek=$checksum_at conv=notrunc status=none
for at in $checksum_at $cert_at $((cert_at + 4)); do
  [ "$(u32 $at)" = 0 ] || fail "the 4 bytes at $at are not zero: the checksum of a setup would change when it is signed"
done
mv "$out.tmp" "$out"
