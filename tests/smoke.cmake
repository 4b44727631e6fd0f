# The real program under Xvfb: its window appears with the kind nodes, and a
# screenshot lands in the build tree (smoke-*.png) for a person to look at.
add_executable(tst_smoke tst_smoke.cpp)
target_link_libraries(tst_smoke PRIVATE Qt6::Test pw_app)
add_test(NAME tst_smoke COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/smoke.sh
  $<TARGET_FILE:portwright> $<TARGET_FILE:tst_smoke> ${CMAKE_BINARY_DIR})
set_tests_properties(tst_smoke PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77 ENVIRONMENT "LC_ALL=C.UTF-8;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp")
