#!/usr/bin/env bash
# Fetches Debian's zlib source package and unpacks it into DEST (default
# build/zlib-src).  The machine's own apt sources are copied into a private
# folder with "deb" turned into "deb-src", so the system's apt set-up is never
# touched.  The newest listed version can answer 404 (security updates are
# not always mirrored as source): every listed version is tried in turn.
set -u
DEST=${1:-build/zlib-src}
if [ -f "$DEST/inflate.c" ]; then
  echo "zlib source: $DEST (cached)"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/parts" "$work/lists/partial" "$work/dl"
found=0
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] || continue
  sed 's/^Types:.*deb\b.*/Types: deb-src/' "$f" > "$work/parts/$(basename "$f")"
  found=1
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] || continue
  sed -n 's/^deb \(.*\)/deb-src \1/p' "$f" > "$work/parts/$(basename "$f")"
  found=1
done
[ "$found" = 1 ] || { echo "fetch-zlib: no apt sources found" >&2; exit 1; }
opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/parts"
      -o "Dir::State::Lists=$work/lists" -o APT::Sandbox::User=root)
apt-get "${opts[@]}" update >"$work/update.log" 2>&1 || true
versions=$(apt-cache "${opts[@]}" showsrc zlib 2>/dev/null | sed -n 's/^Version: //p' | sort -ru)
[ -n "$versions" ] || { echo "fetch-zlib: no zlib source package listed" >&2; cat "$work/update.log" >&2; exit 1; }
for v in $versions; do
  if (cd "$work/dl" && apt-get "${opts[@]}" source --download-only "zlib=$v" >"$work/get.log" 2>&1); then
    orig=$(ls "$work"/dl/zlib_*.orig.tar.* 2>/dev/null | head -n 1)
    if [ -n "$orig" ]; then
      mkdir -p "$DEST"
      tar -xf "$orig" -C "$DEST" --strip-components=1
      [ -f "$DEST/inflate.c" ] || { echo "fetch-zlib: $orig holds no inflate.c" >&2; exit 1; }
      echo "zlib source: $DEST (Debian zlib $v)"
      exit 0
    fi
  fi
  rm -f "$work"/dl/*
done
echo "fetch-zlib: no listed zlib version could be downloaded: $versions" >&2
exit 1
