pw_add_test(tst_scktcomp SOURCES tst_scktcomp.cpp LIBS pw_core TIMEOUT 240)
