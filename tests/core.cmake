pw_add_test(tst_errors SOURCES tst_errors.cpp LIBS pw_core)
