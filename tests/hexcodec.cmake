pw_add_test(tst_hexcodec SOURCES tst_hexcodec.cpp LIBS pw_core)
