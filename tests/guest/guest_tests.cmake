# The 32-bit product and its 64-bit twin in an emulated 64-bit Debian 12 with Wine, where the
# product runs as a WoW64 process: one stage makes (or takes from the cache under build/guest)
# the guest image and boots it once per BIOS version; the checks judge what its runs recorded.
# The stage uses both cores for minutes, so it runs alone: the twin's timing checks under Wine
# must not share the machine with it.
set(GUEST_DIR ${CMAKE_CURRENT_LIST_DIR})
set(GUEST_RESULTS ${CMAKE_BINARY_DIR}/guest-results)

add_test(NAME guest.stage COMMAND bash ${GUEST_DIR}/guest_runs.sh ${CMAKE_BINARY_DIR} ${GUEST_RESULTS})
# From nothing on a 2-core machine that runs other suites beside it: the image took 13 minutes
# and the two boots 15, and 1500 s cut such a stage short; this leaves a third in hand.
set_tests_properties(guest.stage PROPERTIES FIXTURES_SETUP guest_results RUN_SERIAL TRUE TIMEOUT 3600)

foreach(kind update refusal answer_no cleanup input_lock gate)
  add_test(NAME guest.${kind}
    COMMAND bash ${GUEST_DIR}/check.sh ${kind} ${GUEST_RESULTS} ${CMAKE_BINARY_DIR})
  set_tests_properties(guest.${kind} PROPERTIES FIXTURES_REQUIRED guest_results TIMEOUT 120)
endforeach()
