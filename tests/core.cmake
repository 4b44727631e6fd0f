pw_add_test(tst_errors SOURCES tst_errors.cpp LIBS pw_core)
pw_add_test(tst_fileappender SOURCES tst_fileappender.cpp LIBS pw_core)
pw_add_test(tst_regularfile SOURCES tst_regularfile.cpp LIBS pw_core)
