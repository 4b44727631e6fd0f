pw_add_test(tst_linewriter SOURCES tst_linewriter.cpp LIBS pw_core)
