# The real program under Xvfb with accessibility on: its send box and count
# box read through AT-SPI as a screen reader reads them. The accessibility bus
# and dconf keep their files under XDG_CACHE_HOME when there is no runtime
# folder: in the build tree.
add_test(NAME tst_atspi COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/atspi.sh
  $<TARGET_FILE:portwright> ${CMAKE_BINARY_DIR}/atspi)
set_tests_properties(tst_atspi PROPERTIES TIMEOUT 150 SKIP_RETURN_CODE 77 ENVIRONMENT
  "LC_ALL=C.UTF-8;XDG_CACHE_HOME=${CMAKE_CURRENT_BINARY_DIR}/cache;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp")

# What the endpoint tree tells assistive technologies, counted in the program
# with accessibility on (under Xvfb, with a private accessibility bus).
add_executable(tst_treeaccessibility tst_treeaccessibility.cpp)
target_link_libraries(tst_treeaccessibility PRIVATE Qt6::Test pw_test_support pw_app)
add_test(NAME tst_treeaccessibility
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/atspi-run $<TARGET_FILE:tst_treeaccessibility>)
set_tests_properties(tst_treeaccessibility PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77
  ENVIRONMENT "${PW_TEST_ENVIRONMENT}")
