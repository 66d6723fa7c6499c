#!/usr/bin/env bash
# Packs the demo product into out/demo/DemoSetup.exe and runs it under Wine
# with `zqpack run`, which installs a stand-in Application Manager in a
# folder with blanks and reports what the setup did and what it handed over.
#
# With a usable display ($DISPLAY) the setup is yours to click through.
# Without one it runs on a private Xvfb display, worked by the GUI driver:
# Welcome, License, the Cancel question (answered No), Accept, Next; a
# screenshot of each view goes to out/demo/ (docs/*.png are copies of them).
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p out/demo
echo "== packing demo/Setup.ini"
out/zqpack build demo/Setup.ini -o out/demo/DemoSetup.exe --arch x86_64
out/zqpack list out/demo/DemoSetup.exe
if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "== running the demo setup on $DISPLAY: click through it"
  exec out/zqpack run out/demo/DemoSetup.exe --interactive
fi
echo "== running the demo setup on a private display, worked by the GUI driver"
exec out/zqpack run out/demo/DemoSetup.exe --screenshots out/demo
