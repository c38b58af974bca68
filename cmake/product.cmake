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
