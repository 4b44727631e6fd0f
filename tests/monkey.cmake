pw_add_test(tst_monkey SOURCES tst_monkey.cpp LIBS pw_app TIMEOUT 600)
