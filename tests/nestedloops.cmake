pw_add_test(tst_nestedloops SOURCES tst_nestedloops.cpp LIBS pw_app TIMEOUT 300)
