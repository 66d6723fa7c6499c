# Run at build time (cmake -P): writes OUTPUT from TEMPLATE with the bytes of
# ZQ_OUT/zqstub-ARCH.exe for each architecture that has one of exactly 32768
# bytes, and none for the others.  configure_file rewrites OUTPUT only when
# its text changes, so zqpack is relinked only when a program proper changed.
foreach(arch i686 x86_64)
  string(TOUPPER "${arch}" ARCH)
  set(program "${ZQ_OUT}/zqstub-${arch}.exe")
  set(ZQ_PROGRAM_${ARCH}_BYTES "")
  set(ZQ_PROGRAM_${ARCH}_SIZE 0)
  if(EXISTS "${program}")
    file(SIZE "${program}" size)
    if(size EQUAL 32768)
      file(READ "${program}" hex HEX)
      string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
      set(ZQ_PROGRAM_${ARCH}_BYTES "${bytes}")
      set(ZQ_PROGRAM_${ARCH}_SIZE 32768)
    endif()
  endif()
endforeach()
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
