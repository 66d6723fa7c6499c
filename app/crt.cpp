// The two routines the compiler emits calls to for block moves and zeroing;
// the program links no C runtime, so it brings its own.  Built with
// -fno-tree-loop-distribute-patterns, so these loops stay loops.
#include <stddef.h>

extern "C" void* memset(void* dest, int value, size_t count) {
  unsigned char* d = static_cast<unsigned char*>(dest);
  while (count-- > 0) *d++ = static_cast<unsigned char>(value);
  return dest;
}

extern "C" void* memcpy(void* dest, const void* source, size_t count) {
  unsigned char* d = static_cast<unsigned char*>(dest);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  while (count-- > 0) *d++ = *s++;
  return dest;
}
