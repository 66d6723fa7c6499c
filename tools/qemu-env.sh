# Sourced by the scripts that start Wine outside the test rig (the demo run,
# the benchmark).  Where the kernel refuses 32-bit programs and qemu runs them
# through binfmt_misc (tools/install-deps.sh), 64-bit Wine still starts 32-bit
# helpers (wineboot's), and each such start takes about 50 s unless qemu is
# told to reserve Wine's address space at once.  Elsewhere nothing changes.
qemu_serves_i386() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] || continue
    head -n 1 "$entry" 2>/dev/null | grep -qx enabled || continue
    grep -q '^interpreter .*qemu' "$entry" 2>/dev/null || continue
    grep -q '^magic 7f454c4601' "$entry" 2>/dev/null && return 0
  done
  return 1
}
if qemu_serves_i386; then export QEMU_RESERVED_VA=0x81000000; fi
