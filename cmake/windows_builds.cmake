# The host build makes the payloads and the pictures, then builds the 64-bit twin and the
# 32-bit product as sub-builds with the mingw-w64 toolchains.
include(ExternalProject)

option(BIOSUPDATE_WINDOWS_BUILDS "Build the Windows executables too (needs mingw-w64)" ON)
# For a release and the reproducibility check: of the 64-bit build only the stand-in flash tool
# the product embeds (nothing at all with a supplied flash tool). Build the target win32.
option(BIOSUPDATE_PRODUCT_ONLY "Build only what the 32-bit product needs" OFF)
set(BIOSUPDATE_SUPPLIED_FLASH_TOOL "" CACHE FILEPATH
    "For a release: the vendor's WinFlash64.exe to embed instead of the stand-in")
set(BIOSUPDATE_SUPPLIED_CAPSULE "" CACHE FILEPATH
    "For a release: the 47K31RB4.cap capsule to embed instead of the stand-in; its header is checked")

set(PAYLOAD_DIR ${CMAKE_BINARY_DIR}/payload)
set(ART_OUT_DIR ${CMAKE_BINARY_DIR}/art)
set(CAPSULE_OUT ${PAYLOAD_DIR}/47K31RB4.cap)
# A supplied flash tool is embedded from its checked copy here.
set(SUPPLIED_FLASH_TOOL_OUT ${PAYLOAD_DIR}/WinFlash64.exe)
# The progress mark and the icon are drawn by artmaker; the two backgrounds are finished
# pictures kept in res/art (tools/art/draw_backgrounds.sh makes them when the artwork changes).
set(ART_DRAWN_FILES ${ART_OUT_DIR}/icon128.ico ${ART_OUT_DIR}/mark132.bmp)
set(ART_BACKGROUND_NAMES background134.bmp background135.bmp)
set(ART_BACKGROUND_FILES)
foreach(name ${ART_BACKGROUND_NAMES})
  list(APPEND ART_BACKGROUND_FILES ${ART_OUT_DIR}/${name})
endforeach()
set(ART_FILES ${ART_DRAWN_FILES} ${ART_BACKGROUND_FILES})

if(BIOSUPDATE_SUPPLIED_CAPSULE)
  # A capsule whose header is not the carried image's stops the build here, with the reason.
  add_custom_command(OUTPUT ${CAPSULE_OUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PAYLOAD_DIR}
    COMMAND capsule-tool check ${BIOSUPDATE_SUPPLIED_CAPSULE}
    COMMAND ${CMAKE_COMMAND} -E copy ${BIOSUPDATE_SUPPLIED_CAPSULE} ${CAPSULE_OUT}
    DEPENDS capsule-tool ${BIOSUPDATE_SUPPLIED_CAPSULE}
    COMMENT "Checking the supplied capsule ${BIOSUPDATE_SUPPLIED_CAPSULE}")
else()
  add_custom_command(OUTPUT ${CAPSULE_OUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PAYLOAD_DIR}
    COMMAND capsule-tool make ${CAPSULE_OUT}
    DEPENDS capsule-tool
    COMMENT "Making the stand-in capsule")
endif()
set(SUPPLIED_PAYLOADS)
if(BIOSUPDATE_SUPPLIED_FLASH_TOOL)
  # The updater runs the tool elevated: anything but a whole 64-bit console executable stops
  # the build here, with the reason.
  add_custom_command(OUTPUT ${SUPPLIED_FLASH_TOOL_OUT}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PAYLOAD_DIR}
    COMMAND capsule-tool check-flash-tool ${BIOSUPDATE_SUPPLIED_FLASH_TOOL}
    COMMAND ${CMAKE_COMMAND} -E copy ${BIOSUPDATE_SUPPLIED_FLASH_TOOL} ${SUPPLIED_FLASH_TOOL_OUT}
    DEPENDS capsule-tool ${BIOSUPDATE_SUPPLIED_FLASH_TOOL}
    COMMENT "Checking the supplied flash tool ${BIOSUPDATE_SUPPLIED_FLASH_TOOL}")
  list(APPEND SUPPLIED_PAYLOADS ${SUPPLIED_FLASH_TOOL_OUT})
endif()
add_custom_command(OUTPUT ${ART_DRAWN_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ART_OUT_DIR}
  COMMAND artmaker ${ART_OUT_DIR}
  DEPENDS artmaker
  COMMENT "Drawing the progress mark and the icon")
foreach(name ${ART_BACKGROUND_NAMES})
  add_custom_command(OUTPUT ${ART_OUT_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ART_OUT_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/res/art/${name} ${ART_OUT_DIR}/${name}
    DEPENDS ${PROJECT_SOURCE_DIR}/res/art/${name}
    COMMENT "Taking the background ${name}")
endforeach()
add_custom_target(payloads ALL DEPENDS ${CAPSULE_OUT} ${SUPPLIED_PAYLOADS} ${ART_FILES})

set(WIN64_DIR ${CMAKE_BINARY_DIR}/win64)
set(WIN32_DIR ${CMAKE_BINARY_DIR}/win32)

if(BIOSUPDATE_WINDOWS_BUILDS)
  set(COMMON_ARGS
    -DCMAKE_BUILD_TYPE=Release
    -DBIOSUPDATE_CAPSULE=${CAPSULE_OUT}
    -DBIOSUPDATE_ART_DIR=${ART_OUT_DIR})
  if(BIOSUPDATE_SUPPLIED_FLASH_TOOL)
    set(PRODUCT_FLASH_TOOL ${SUPPLIED_FLASH_TOOL_OUT})
    set(WIN64_FLASH_TOOL ${SUPPLIED_FLASH_TOOL_OUT})
  else()
    set(PRODUCT_FLASH_TOOL ${WIN64_DIR}/tools/capsule/WinFlash64.exe)
    set(WIN64_FLASH_TOOL "")  # the twin builds and embeds its own stand-in
  endif()
  set(WIN32_DEPENDS payloads)
  if(NOT (BIOSUPDATE_PRODUCT_ONLY AND BIOSUPDATE_SUPPLIED_FLASH_TOOL))
    if(BIOSUPDATE_PRODUCT_ONLY)
      set(WIN64_BUILD_COMMAND
        BUILD_COMMAND ${CMAKE_COMMAND} --build ${WIN64_DIR} --target WinFlash64)
    else()
      set(WIN64_BUILD_COMMAND)
    endif()
    ExternalProject_Add(win64
      SOURCE_DIR ${PROJECT_SOURCE_DIR}
      BINARY_DIR ${WIN64_DIR}
      CMAKE_ARGS ${COMMON_ARGS}
        -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-x86_64.cmake
        -DBIOSUPDATE_FLASH_TOOL=${WIN64_FLASH_TOOL}
      ${WIN64_BUILD_COMMAND}
      BUILD_ALWAYS TRUE
      INSTALL_COMMAND ""
      DEPENDS payloads)
    list(APPEND WIN32_DEPENDS win64)
  endif()
  # The 32-bit test driver and stand-ins come with every build but a product-only one.
  if(BIOSUPDATE_PRODUCT_ONLY)
    set(WIN32_TEST_PROGRAMS OFF)
  else()
    set(WIN32_TEST_PROGRAMS ON)
  endif()
  ExternalProject_Add(win32
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${WIN32_DIR}
    CMAKE_ARGS ${COMMON_ARGS}
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-i686.cmake
      -DBIOSUPDATE_FLASH_TOOL=${PRODUCT_FLASH_TOOL}
      -DBIOSUPDATE_TEST_PROGRAMS=${WIN32_TEST_PROGRAMS}
    BUILD_ALWAYS TRUE
    INSTALL_COMMAND ""
    DEPENDS ${WIN32_DEPENDS})
endif()
