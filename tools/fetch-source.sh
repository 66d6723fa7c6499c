#!/usr/bin/env bash
# Fetches a Debian source package and unpacks its upstream tarball into DEST:
#
#   bash tools/fetch-source.sh PACKAGE DEST MARKER [VERSION-PREFIX]
#
# MARKER is a file the tarball must hold (relative to DEST); with it present
# nothing is fetched again.  VERSION-PREFIX keeps to the versions that begin
# with it.  The machine's own apt sources are copied into a private
# folder with "deb" turned into "deb-src", so the system's apt set-up is never
# touched.  The newest listed version can answer 404 (security updates are
# not always mirrored as source): every listed version is tried in turn.
set -u
[ $# -ge 3 ] || { sed -n '2,13p' "$0" >&2; exit 2; }
PACKAGE=$1 DEST=$2 MARKER=$3 PREFIX=${4:-}
if [ -f "$DEST/$MARKER" ]; then
  echo "$PACKAGE source: $DEST (cached)"
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
[ "$found" = 1 ] || { echo "fetch-source: no apt sources found" >&2; exit 1; }
opts=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/parts"
      -o "Dir::State::Lists=$work/lists" -o APT::Sandbox::User=root)
apt-get "${opts[@]}" update >"$work/update.log" 2>&1 || true
versions=$(apt-cache "${opts[@]}" showsrc "$PACKAGE" 2>/dev/null | sed -n 's/^Version: //p' | grep "^$PREFIX" | sort -ru)
[ -n "$versions" ] || { echo "fetch-source: no $PACKAGE $PREFIX source package listed" >&2; cat "$work/update.log" >&2; exit 1; }
for v in $versions; do
  if (cd "$work/dl" && apt-get "${opts[@]}" source --download-only "$PACKAGE=$v" >"$work/get.log" 2>&1); then
    orig=$(ls "$work"/dl/"$PACKAGE"_*.orig.tar.* 2>/dev/null | head -n 1)
    if [ -n "$orig" ]; then
      mkdir -p "$DEST"
      tar -xf "$orig" -C "$DEST" --strip-components=1
      [ -f "$DEST/$MARKER" ] || { echo "fetch-source: $orig holds no $MARKER" >&2; exit 1; }
      echo "$PACKAGE source: $DEST (Debian $PACKAGE $v)"
      exit 0
    fi
  fi
  rm -f "$work"/dl/*
done
echo "fetch-source: no listed $PACKAGE version could be downloaded: $versions" >&2
exit 1
