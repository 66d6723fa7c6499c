#!/usr/bin/env bash
# Packs the demo product into out/demo/DemoSetup.exe and runs it under Wine
# with the stand-in Application Manager installed in a folder with blanks.
#
# With a usable display ($DISPLAY) the setup is yours to click through.
# Without one it runs on a private Xvfb display, worked by the GUI driver:
# Welcome, License, the Cancel question (answered No), Accept, Next.  A
# screenshot of each view goes to out/demo/, and the command line that the
# stand-in Application Manager received is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
OUT=$ROOT/out/demo
WORLD=$ROOT/build/demo-world
export WINEPREFIX=$ROOT/build/demo-prefix
export WINELOADER=/usr/lib/wine/wine64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
. "$ROOT/tools/qemu-env.sh"
WINE=/usr/lib/wine/wine64
RIG=$ROOT/out/x86_64

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

mkdir -p "$OUT"
echo "== packing demo/Setup.ini"
"$ROOT/out/zqpack" build "$ROOT/demo/Setup.ini" -o "$OUT/DemoSetup.exe" --arch x86_64
"$ROOT/out/zqpack" list "$OUT/DemoSetup.exe"

# A fresh world each run: the Application Manager's folder (with blanks, as
# under Program Files), the temporary folder and the stand-in's log.
rm -rf "$WORLD"
APPMGR_DIR="$WORLD/Program Files/Windows CE Services"
mkdir -p "$APPMGR_DIR" "$WORLD/temp"
cp "$RIG/CeAppMgr.exe" "$APPMGR_DIR/CeAppMgr.exe"
LOG=$WORLD/appmgr.log
APPMGR_WIN=$(winpath "$APPMGR_DIR/CeAppMgr.exe")

xvfb_pid=
cleanup() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

interactive=0
if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ] && xdpyinfo >/dev/null 2>&1; then interactive=1; fi
if [ $interactive = 0 ]; then
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    break
  done
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== making the Wine prefix (once)"
  "$WINE" wineboot -i >/dev/null 2>&1 || true
fi

# On Xvfb there is no window manager to draw captions: Wine's own virtual
# desktop draws them, so the screenshots show the wizard's title.
desktop_key='HKCU\Software\Wine\Explorer'
if [ $interactive = 0 ]; then
  "$WINE" reg add "$desktop_key" /v Desktop /d Default /f >/dev/null 2>&1 || true
  "$WINE" reg add "$desktop_key\Desktops" /v Default /d 800x600 /f >/dev/null 2>&1 || true
else
  "$WINE" reg delete "$desktop_key" /v Desktop /f >/dev/null 2>&1 || true
fi

common=(--exe "$(winpath "$OUT/DemoSetup.exe")" --temp "$(winpath "$WORLD/temp")"
        --appmgr "$APPMGR_WIN" --env "ZQ_APPMGR_LOG=$(winpath "$LOG")")

if [ $interactive = 1 ]; then
  echo "== running the demo setup on $DISPLAY: click through it"
  "$WINE" "$RIG/zqdriver.exe" "${common[@]}" --timeout 3600000 exit
else
  echo "== running the demo setup on Xvfb $DISPLAY, worked by the GUI driver"
  "$WINE" "$RIG/zqdriver.exe" "${common[@]}" --capture-dir "$(winpath "$OUT")" \
      wizard capture:welcome click:1000 capture:license \
      click:1001 box capture:cancel-question answer:no \
      click:1003 capture:license-accepted click:1000 exit |
  while IFS= read -r line; do
    line=${line%$'\r'}
    echo "  $line"
    case "$line" in
      CAPTURE\ *)
        name=$(sed -n 's/^CAPTURE name="\([^"]*\)".*/\1/p' <<<"$line")
        import -display "$DISPLAY" -window root "$OUT/$name.png" 2>/dev/null || true
        touch "$OUT/$name.done"
        echo "  screenshot: out/demo/$name.png" ;;
    esac
  done
  rm -f "$OUT"/*.done
fi

echo "== the stand-in Application Manager received:"
if [ -f "$LOG" ]; then sed -n 's/^CMDLINE /  /p' "$LOG"; grep -E '^(INI|CAB) ' "$LOG" | sed 's/^/  /'
else echo "  (it was not started)"; fi
echo "== install folder: $APPMGR_DIR/ZQDemo"
ls -l "$APPMGR_DIR/ZQDemo" 2>/dev/null | sed 's/^/  /' || true
