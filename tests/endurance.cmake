pw_add_test(tst_endurance SOURCES tst_endurance.cpp LIBS pw_app TIMEOUT 900)
