# The host tests once more, built with AddressSanitizer and UndefinedBehaviorSanitizer in a
# tree of their own (the sanitizers' run-time must not meet the plain build's objects), and run
# as one test of the main CTest run.
include(ExternalProject)

set(SANITIZED_DIR ${CMAKE_BINARY_DIR}/sanitized)
ExternalProject_Add(sanitized
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${SANITIZED_DIR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Debug -DBIOSUPDATE_SANITIZE=ON -DBIOSUPDATE_WINDOWS_BUILDS=OFF
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${SANITIZED_DIR} --target host_tests
  BUILD_ALWAYS TRUE
  INSTALL_COMMAND "")
