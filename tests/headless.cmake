pw_add_test(tst_headless SOURCES tst_headless.cpp LIBS pw_session)
target_compile_definitions(tst_headless PRIVATE PORTWRIGHT_BINARY="$<TARGET_FILE:portwright>"
  PORTWRIGHT_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(tst_headless portwright)
