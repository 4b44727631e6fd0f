pw_add_test(tst_xcomdrv SOURCES tst_xcomdrv.cpp LIBS pw_core TIMEOUT 240)
