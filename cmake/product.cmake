# BIOSUpdate.exe for Windows (the 32-bit product or its 64-bit twin), with its resources.
#
# Payloads come from the host build: BIOSUPDATE_CAPSULE (checked there), BIOSUPDATE_ART_DIR,
# and BIOSUPDATE_FLASH_TOOL; without the last, the 64-bit build embeds its own stand-in.
set(BIOSUPDATE_CAPSULE "" CACHE FILEPATH "Capsule to embed as resource 177")
set(BIOSUPDATE_FLASH_TOOL "" CACHE FILEPATH "Flash tool to embed as resource 172")
set(BIOSUPDATE_ART_DIR "" CACHE PATH "Folder with the icon and the bitmaps")

if(NOT EXISTS "${BIOSUPDATE_CAPSULE}" OR NOT IS_DIRECTORY "${BIOSUPDATE_ART_DIR}")
  message(FATAL_ERROR
    "The Windows builds take their payloads from the host build. Build from the top of the "
    "source tree without a toolchain file (see README.md), or pass BIOSUPDATE_CAPSULE and "
    "BIOSUPDATE_ART_DIR.")
endif()

if(BIOSUPDATE_FLASH_TOOL)
  if(NOT EXISTS "${BIOSUPDATE_FLASH_TOOL}")
    message(FATAL_ERROR "Flash tool ${BIOSUPDATE_FLASH_TOOL} does not exist.")
  endif()
  set(FLASH_TOOL_FILE "${BIOSUPDATE_FLASH_TOOL}")
elseif(BIOSUPDATE_WIN64)
  # The stand-in built next door, at its default place in this build tree.
  set(FLASH_TOOL_FILE "${PROJECT_BINARY_DIR}/tools/capsule/WinFlash64.exe")
else()
  message(FATAL_ERROR "The 32-bit product needs BIOSUPDATE_FLASH_TOOL (the host build passes "
                      "the 64-bit build's stand-in).")
endif()

set(RES_DIR ${PROJECT_SOURCE_DIR}/res)
set(ART_DIR ${BIOSUPDATE_ART_DIR})
set(CAPSULE_FILE ${BIOSUPDATE_CAPSULE})
configure_file(${RES_DIR}/BIOSUpdate.rc.in ${CMAKE_CURRENT_BINARY_DIR}/BIOSUpdate.rc.gen @ONLY)
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/BIOSUpdate.rc
     INPUT ${CMAKE_CURRENT_BINARY_DIR}/BIOSUpdate.rc.gen)

add_executable(BIOSUpdate WIN32
  ${PROGRAM_SOURCES}
  platform/win32/services.cpp
  platform/win32/power.cpp
  platform/win32/wmi.cpp
  platform/win32/framework.cpp
  platform/win32/seam_check.cpp
  platform/win32/critical_section.cpp
  platform/win32/gdi.cpp
  platform/win32/system_dll.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/BIOSUpdate.rc
)
target_include_directories(BIOSUpdate PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${RES_DIR})
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/BIOSUpdate.rc PROPERTIES
  OBJECT_DEPENDS "${FLASH_TOOL_FILE};${CAPSULE_FILE};${RES_DIR}/BIOSUpdate.manifest;${ART_DIR}/icon128.ico;${ART_DIR}/mark132.bmp;${ART_DIR}/background134.bmp;${ART_DIR}/background135.bmp")
if(NOT BIOSUPDATE_FLASH_TOOL)
  add_dependencies(BIOSUpdate WinFlash64)
endif()
target_link_libraries(BIOSUpdate PRIVATE ole32 oleaut32 wbemuuid shell32 shlwapi user32 gdi32 advapi32)
set_target_properties(BIOSUpdate PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
bios_strict(BIOSUpdate)

# A lean product. Optimised for size (it spends its time waiting on the flash tool; -Os makes
# 16 KB less code than -O2), each function and datum in its own section so that the linker
# drops what nothing references, and the shipped file stripped. The link output, with debug
# information, stays beside it as BIOSUpdate.debug.exe: the same image at the same addresses,
# for reading crash addresses; it alone carries build paths.
target_compile_options(BIOSUpdate PRIVATE -Os -g -ffunction-sections -fdata-sections)
# The runtime's default terminate handler writes the uncaught exception's demangled type to
# stderr, which a GUI program does not have, and then aborts. Aiming it at abort directly
# leaves the demangler out (about 48 KB). i686 C symbols carry a leading underscore.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(C_SYMBOL_PREFIX _)
else()
  set(C_SYMBOL_PREFIX "")
endif()
set(VERBOSE_TERMINATE_HANDLER ${C_SYMBOL_PREFIX}_ZN9__gnu_cxx27__verbose_terminate_handlerEv)
# Sections aligned in the file as they are in memory (4 KB), so that the loader can map the
# image rather than read it: with the linker's 512-byte default Wine copies every section, the
# 6.7 MB of resources included, into private memory before the program's first instruction.
set(PAGE_SIZE 0x1000)
target_link_options(BIOSUpdate PRIVATE -Wl,--gc-sections
                    -Wl,--defsym=${VERBOSE_TERMINATE_HANDLER}=${C_SYMBOL_PREFIX}abort
                    -Wl,--file-alignment,${PAGE_SIZE})
# Hardened as a security review of an elevated program expects (the product file check reads
# each of these back from the image): address-space randomisation with the relocations it
# needs, no-execute data, aware of terminal servers (so Windows applies no compatibility
# shims to it there), and on the 64-bit twin addresses above 4 GB as well. Stated rather than
# left to the linker's defaults, which have changed between binutils releases.
target_link_options(BIOSUpdate PRIVATE -Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware)
# A canary in every function with an array or an address-taken local (the path buffers among
# them), checked before it returns. The driver links GCC's libssp for the check and the
# canary's seeding; -static takes its archive, so no DLL of it is loaded from beside the file.
target_compile_options(BIOSUpdate PRIVATE -fstack-protector-strong)
target_link_options(BIOSUpdate PRIVATE -fstack-protector-strong)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  target_link_options(BIOSUpdate PRIVATE -Wl,--high-entropy-va)
else()
  # A 32-bit image must either list its exception handlers or say it has none, or Windows
  # would run a handler planted on the stack by an overflow. GCC's exceptions here unwind by
  # DWARF tables and neither our code nor the run-time linked in registers a frame-based
  # handler (nothing writes %fs:0; the product file check looks), so the image says so.
  target_link_options(BIOSUpdate PRIVATE -Wl,--no-seh)
endif()
set(DEBUG_COPY ${CMAKE_BINARY_DIR}/BIOSUpdate.debug.exe)
# Stripped after the link rather than by it (-s), so that the debug copy is the very image
# shipped. strip stamps the PE header with the current time unless SOURCE_DATE_EPOCH names one;
# 0 is what the linker's --no-insert-timestamp wrote.
set(NO_TIMESTAMP 0)
add_custom_command(TARGET BIOSUpdate POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:BIOSUpdate> ${DEBUG_COPY}
  COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${NO_TIMESTAMP}
          ${CMAKE_STRIP} --strip-all $<TARGET_FILE:BIOSUpdate>
  BYPRODUCTS ${DEBUG_COPY}
  VERBATIM)
