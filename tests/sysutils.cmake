pw_add_test(tst_sysutils SOURCES tst_sysutils.cpp LIBS pw_core)
