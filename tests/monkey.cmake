pw_add_test(tst_monkey SOURCES tst_monkey.cpp LIBS pw_ui TIMEOUT 600)
