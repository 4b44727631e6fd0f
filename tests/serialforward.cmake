pw_add_test(tst_serialforward SOURCES tst_serialforward.cpp LIBS pw_app TIMEOUT 240)
