# The program proper: no C runtime start-up, size-tuned, padded to exactly
# 32768 bytes.  zlib's inflate and adler32 are compiled from source with the
# same size flags.
enable_language(RC)

# The one architecture difference of the build: i686 decorates C names and
# says that it registers no structured exception handlers (nothing here
# does: no __try, -fno-exceptions throughout); x86_64 reaches globals
# directly instead of through .refptr pointers and takes addresses above
# 4 GB (its exception handling is table-based, and the program has no
# tables).
if(ZQ_ARCH STREQUAL "i686")
  set(ZQ_ENTRY _ZqEntry@0)
  set(ZQ_ARCH_FLAGS "")
  set(ZQ_ARCH_LINK -Wl,--no-seh)
else()
  set(ZQ_ENTRY ZqEntry)
  set(ZQ_ARCH_FLAGS -mcmodel=small)
  set(ZQ_ARCH_LINK -Wl,--high-entropy-va)
endif()

if(NOT EXISTS "${ZLIB_SOURCE_DIR}/inflate.c")
  message(FATAL_ERROR "no zlib source at ${ZLIB_SOURCE_DIR}: run bash build.sh deps "
                      "or set -DZLIB_SOURCE_DIR=<a zlib source tree>")
endif()

set(ZQ_SIZE_FLAGS ${ZQ_ARCH_FLAGS} -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -fdata-sections -fno-tree-loop-distribute-patterns
    -fno-stack-protector -fno-ident -fno-threadsafe-statics)

# Z_SOLO: zlib takes its memory from our allocator (on GlobalAlloc), so the
# program imports nothing from a C runtime.
add_library(zqzlib STATIC
    ${ZLIB_SOURCE_DIR}/inflate.c ${ZLIB_SOURCE_DIR}/inftrees.c
    ${ZLIB_SOURCE_DIR}/inffast.c ${ZLIB_SOURCE_DIR}/adler32.c
    ${ZLIB_SOURCE_DIR}/zutil.c)
target_include_directories(zqzlib PUBLIC ${ZLIB_SOURCE_DIR})
target_compile_definitions(zqzlib PUBLIC NO_GZIP Z_SOLO)
# Z_SOLO makes zlib copy byte by byte with its own zmemcpy; ours is faster.
target_compile_definitions(zqzlib PRIVATE HAVE_MEMCPY)
target_compile_options(zqzlib PRIVATE ${ZQ_ARCH_FLAGS} -Os -w -ffunction-sections -fdata-sections
    -fno-asynchronous-unwind-tables -fno-tree-loop-distribute-patterns -fno-stack-protector)
set_source_files_properties(${ZLIB_SOURCE_DIR}/inffast.c PROPERTIES COMPILE_OPTIONS "${ZQ_INFFAST_FLAGS}")

# Every module of the program but its entry: module tests link them too.
add_library(zqcore STATIC
    base/state.cpp base/errors.cpp base/paths.cpp app/dllsearch.cpp app/startup.cpp
    payload/extract.cpp payload/progress.cpp
    handoff/settings.cpp handoff/handoff.cpp
    wizard/wizard.cpp wizard/license.cpp wizard/pagestyle.cpp
    wizard/welcome.cpp wizard/header.cpp)
target_include_directories(zqcore PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(zqcore PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_compile_options(zqcore PRIVATE ${ZQ_SIZE_FLAGS} -Wall -Wextra)
target_link_libraries(zqcore PUBLIC zqformat zqzlib)
# With -fdata-sections, mingw's GCC puts zero-initialised globals into .data$
# sections that take file space; the state buffers (about 6 KB) belong in .bss.
set_source_files_properties(base/state.cpp PROPERTIES COMPILE_OPTIONS -fno-data-sections)

# The entry, the runtime routines and the resources: compiled once for the
# program proper and for its second link below.
add_library(zqentry OBJECT app/entry.cpp app/crt.cpp resources/zqstub.rc)
target_compile_options(zqentry PRIVATE ${ZQ_SIZE_FLAGS} -Wall -Wextra)
target_compile_definitions(zqentry PRIVATE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
target_include_directories(zqentry PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(zqentry PRIVATE zqcore)  # its include folders and definitions

# Links TARGET from those objects.  Windows may load it at any 64 KB boundary
# (ASLR), so the relocation table lists every absolute address in it; NX: no
# data runs as code; not TERMINAL_SERVER_AWARE, so that a terminal server
# puts it in install mode.
function(zq_link_program target)
  add_executable(${target} $<TARGET_OBJECTS:zqentry>)
  target_link_options(${target} PRIVATE -nostdlib -nostartfiles -s -mwindows
      -Wl,-e,${ZQ_ENTRY} -Wl,--gc-sections -Wl,--file-alignment,512
      -Wl,--enable-reloc-section -Wl,--dynamicbase -Wl,--nxcompat -Wl,--disable-tsaware
      ${ZQ_ARCH_LINK} ${ARGN})
  # Order matters for static archives: our modules, zlib, then the system.
  target_link_libraries(${target} PRIVATE zqcore zqformat zqzlib kernel32 user32 gdi32 advapi32 gcc)
endfunction()

# zqpe (tools/zqpe), a host program built with the host's compiler: it
# checks that the linked image fits, pads it to exactly kProgramBytes into
# out/ and says how many bytes it uses; the benchmark measures the image's
# sections with it.
find_program(ZQ_HOST_CXX NAMES c++ g++ REQUIRED DOC "the host's C++ compiler, for zqpe")
set(ZQ_PE_TOOL ${CMAKE_BINARY_DIR}/zqpe)
set(ZQ_PE_SOURCES ${CMAKE_SOURCE_DIR}/tools/zqpe/main.cpp ${CMAKE_SOURCE_DIR}/format/pe_layout.cpp)
add_custom_command(OUTPUT ${ZQ_PE_TOOL}
    COMMAND ${ZQ_HOST_CXX} -std=c++17 -O2 -Wall -Wextra -I${CMAKE_SOURCE_DIR} -o ${ZQ_PE_TOOL} ${ZQ_PE_SOURCES}
    DEPENDS ${ZQ_PE_SOURCES} ${CMAKE_SOURCE_DIR}/format/pe.h ${CMAKE_SOURCE_DIR}/format/pe_layout.h
            ${CMAKE_SOURCE_DIR}/format/checksum.h ${CMAKE_SOURCE_DIR}/format/format.h
    COMMENT "zqpe: the host's reader of the linked image")
add_custom_target(zqpe_host DEPENDS ${ZQ_PE_TOOL})

set(ZQ_MAP "${CMAKE_BINARY_DIR}/zqstub-${ZQ_ARCH}.map")
zq_link_program(zqstub -Wl,-Map,${ZQ_MAP})
add_dependencies(zqstub zqpe_host)
set_property(TARGET zqstub APPEND PROPERTY LINK_DEPENDS ${ZQ_PE_TOOL})  # a new zqpe pads again
add_custom_command(TARGET zqstub POST_BUILD
    COMMAND ${ZQ_PE_TOOL} pad $<TARGET_FILE:zqstub> ${ZQ_OUT}/zqstub-${ZQ_ARCH}.exe ${ZQ_ARCH}
    VERBATIM)

# The same program linked for another base, for the host test that proves
# the relocation table complete: the first image with its relocations
# applied for the difference must equal this one.  Not shipped.
if(ZQ_ARCH STREQUAL "i686")
  set(ZQ_OTHER_BASE 0x12340000)
else()
  set(ZQ_OTHER_BASE 0x7FF612340000)  # above 4 GB: every byte of a 64-bit address moves
endif()
zq_link_program(zqstub_rebased -Wl,--image-base,${ZQ_OTHER_BASE})
set_target_properties(zqstub_rebased PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZQ_WIN_OUT}
                                                OUTPUT_NAME zqstub-rebased)
