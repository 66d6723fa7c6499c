#!/bin/sh
# pad-stub.sh IMAGE OUT ARCH: checks that the linked image fits the 32768
# bytes of the program proper and pads it with zero bytes to exactly that
# length.  The loader ignores bytes behind the last section.
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
mv "$out.tmp" "$out"
