# End-to-end checks of the 64-bit twin under Wine, sharing one private prefix per test run.
set(WINE_STATE ${CMAKE_BINARY_DIR}/wine-state)
set(WINE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(WINTEST_EXE ${WIN64_DIR}/tools/wintest/wintest.exe)

add_test(NAME wine.prefix_create COMMAND bash ${WINE_DIR}/fixture.sh create ${WINE_STATE})
add_test(NAME wine.prefix_destroy COMMAND bash ${WINE_DIR}/fixture.sh destroy ${WINE_STATE})
set_tests_properties(wine.prefix_create PROPERTIES FIXTURES_SETUP wine_prefix TIMEOUT 120)
set_tests_properties(wine.prefix_destroy PROPERTIES FIXTURES_CLEANUP wine_prefix TIMEOUT 60)

foreach(check cleanup_mode update_mode_no korean_question second_instance fixtures_smoke update_run power_supply bitlocker guards hardening input_lock screen)
  add_test(NAME wine.${check}
    COMMAND bash ${WINE_DIR}/${check}.sh ${WINE_STATE} ${WIN64_DIR}/BIOSUpdate.exe ${WINTEST_EXE})
  set_tests_properties(wine.${check} PROPERTIES
    FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine_prefix TIMEOUT 300)
endforeach()
# Eight whole runs of the updater: about 190 s here.
set_tests_properties(wine.bitlocker PROPERTIES TIMEOUT 420)

# The harness itself: the driver's commands against message boxes of known text and icon.
add_test(NAME wine.harness_smoke COMMAND bash ${WINE_DIR}/smoke.sh ${WINTEST_EXE})
set_tests_properties(wine.harness_smoke PROPERTIES RESOURCE_LOCK wine_prefix TIMEOUT 300)
