// The two routines the compiler emits calls to for block moves and zeroing;
// the program links no C runtime, so it brings its own.  zlib calls them too
// (built with HAVE_MEMCPY): it copies stored blocks and its window with
// memcpy, so a string instruction, which every x86 since 2012 runs at cache
// speed, beats a byte loop there.
#include <stddef.h>

extern "C" void* memset(void* dest, int value, size_t count) {
  void* d = dest;
  __asm__ volatile("rep stosb" : "+D"(d), "+c"(count) : "a"(value) : "memory");
  return dest;
}

extern "C" void* memcpy(void* dest, const void* source, size_t count) {
  void* d = dest;
  __asm__ volatile("rep movsb" : "+D"(d), "+S"(source), "+c"(count) : : "memory");
  return dest;
}
