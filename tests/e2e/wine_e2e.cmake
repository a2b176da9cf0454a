# The whole flash of the Windows build: kalvex.exe under Wine in a network namespace, against
# the simulated board, a Linux program taken from the Linux build (the default preset's).
set(KALVEX_LINUX_SIM_BOARD ${PROJECT_SOURCE_DIR}/build/default/tools/sim_board/sim_board
    CACHE FILEPATH "The simulated board built for Linux")
add_test(NAME e2e.wine_whole_flash
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/wine_flash_e2e.sh $<TARGET_FILE:kalvex>
                 ${KALVEX_LINUX_SIM_BOARD} ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh
                 ${CMAKE_BINARY_DIR}/wineprefix-e2e)
set_tests_properties(e2e.wine_whole_flash PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 400
                     PASS_REGULAR_EXPRESSION "PASS wine whole flash" RESOURCE_LOCK wine_desktop)
