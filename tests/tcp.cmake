pw_add_test(tst_tcpsockets SOURCES tst_tcpsockets.cpp LIBS pw_net TIMEOUT 240)
