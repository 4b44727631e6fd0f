pw_add_test(tst_replyrules SOURCES tst_replyrules.cpp LIBS pw_core)
