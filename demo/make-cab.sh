#!/bin/bash
# Packs the demo's cabinet file, DEMO.CAB: a Windows CE install cabinet that
# the Application Manager can install, holding
#   ZQDEMO.000  the setup information, written below to its layout
#               (tools/zqpack/ce_setup.h describes it)
#   _setup.xml  the same for Smartphone 2002 and 2003, which read only this
#               provisioning document (tools/zqpack/setup_xml.h)
#   ZQDEMO.001  cab-contents/readme.txt, installed as readme.txt into
#               %CE1%\ZQ Demo (the Program Files folder of the device)
#
#   bash demo/make-cab.sh [OUTPUT]
#
# OUTPUT defaults to DEMO.CAB beside this script, where the generated file is
# committed.  Needs gcab.  The cabinet is MSZIP-compressed and stores the
# bare file names.  A cabinet records each file's modification time, so the
# files are packed from a copy dated to a fixed moment: the same contents
# always give the same bytes.  'zqpack check -v demo/Setup.ini' shows what
# the cabinet tells the Application Manager.
set -euo pipefail
export LC_ALL=C  # byte lengths of the texts below

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/DEMO.CAB}
stamp='2002-10-01 12:00:00'  # the date recorded for every file

app='ZQ Demo' provider='ZQ Installer'
unsupported=(HPC POCKETPC)   # platforms the Application Manager refuses it on
architecture=2577            # StrongARM
least_major=3 least_minor=0  # Windows CE 3.0 (Smartphone 2002) and later
folder_ids=(1 2)             # %CE1%\ZQ Demo, from the strings below
strings=('%CE1%' 'ZQ Demo')  # ids 1 and 2
installed=readme.txt         # the name of file number 1 on the device

# Little-endian fields and zero-terminated texts.
le16() { printf "$(printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16)); }
text() { printf '%s\0' "$1"; }

# Where each part lies: the 100-byte header, the three header texts, then
# STRINGS, DIRS and FILES; the empty REGHIVES, REGKEYS and LINKS at the end.
app_at=100
provider_at=$((app_at + ${#app} + 1))
unsupported_at=$((provider_at + ${#provider} + 1))
unsupported_bytes=1
for p in "${unsupported[@]}"; do unsupported_bytes=$((unsupported_bytes + ${#p} + 1)); done
strings_at=$((unsupported_at + unsupported_bytes))
dirs_at=$strings_at
for s in "${strings[@]}"; do dirs_at=$((dirs_at + 4 + ${#s} + 1)); done
dir_bytes=$((2 * ${#folder_ids[@]} + 2))
files_at=$((dirs_at + 4 + dir_bytes))
end=$((files_at + 12 + ${#installed} + 1))

write_setup() {
  printf 'MSCE'; le32 0; le32 $end; le32 0; le32 1; le32 $architecture
  le32 $least_major; le32 $least_minor; le32 0; le32 0  # no greatest version
  le32 0; le32 0                                         # builds: no limits
  le16 ${#strings[@]}; le16 1; le16 1; le16 0; le16 0; le16 0
  le32 $strings_at; le32 $dirs_at; le32 $files_at; le32 $end; le32 $end; le32 $end
  le16 $app_at; le16 $((${#app} + 1))
  le16 $provider_at; le16 $((${#provider} + 1))
  le16 $unsupported_at; le16 $unsupported_bytes
  le16 0; le16 0
  text "$app"; text "$provider"
  for p in "${unsupported[@]}"; do text "$p"; done
  printf '\0'
  local id=1
  for s in "${strings[@]}"; do le16 $id; le16 $((${#s} + 1)); text "$s"; id=$((id + 1)); done
  le16 1; le16 $dir_bytes
  for i in "${folder_ids[@]}"; do le16 "$i"; done
  le16 0
  # file number 1 into folder 1; unknown; flags
  le16 1; le16 1; le16 0; le32 0; le16 $((${#installed} + 1)); text "$installed"
}

write_setup_xml() {
  printf '%s' '<wap-provisioningdoc><characteristic type="Install">' \
    '<parm name="InstallPhase" value="install" />' \
    "<parm name=\"OSVersionMin\" value=\"$least_major.$least_minor\" />" \
    "<parm name=\"AppName\" value=\"$provider $app\" />" \
    "<parm name=\"InstallDir\" value=\"${strings[0]}\\${strings[1]}\" translation=\"install\" />" \
    '<parm name="NumDirs" value="1" /><parm name="NumFiles" value="1" /><parm name="NumRegKeys" value="0" />' \
    '<parm name="NumRegVals" value="0" /><parm name="NumShortcuts" value="0" /></characteristic>' \
    '<characteristic type="FileOperation"><characteristic type="%InstallDir%" translation="install">' \
    '<characteristic type="MakeDir" />' \
    "<characteristic type=\"$installed\" translation=\"install\"><characteristic type=\"Extract\">" \
    '<parm name="Source" value="ZQDEMO.001" /></characteristic></characteristic></characteristic>' \
    '</characteristic><characteristic type="Registry" /></wap-provisioningdoc>'
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
write_setup >"$work/ZQDEMO.000"
size=$(stat -c %s "$work/ZQDEMO.000")
[ "$size" = "$end" ] || { echo "make-cab: ZQDEMO.000 has $size bytes, its header says $end" >&2; exit 1; }
write_setup_xml >"$work/_setup.xml"
cp "$here/cab-contents/readme.txt" "$work/ZQDEMO.001"
(
    cd "$work"
    TZ=UTC touch -d "$stamp" ZQDEMO.000 _setup.xml ZQDEMO.001
    TZ=UTC gcab --create --zip --nopath "$work/out.cab" ZQDEMO.000 _setup.xml ZQDEMO.001
)
mkdir -p "$(dirname "$out")"
mv "$work/out.cab" "$out"
