pw_add_test(tst_commandline SOURCES tst_commandline.cpp LIBS pw_app)
target_compile_definitions(tst_commandline PRIVATE PORTWRIGHT_BINARY="$<TARGET_FILE:portwright>")
add_dependencies(tst_commandline portwright)
