pw_add_test(tst_serialport SOURCES tst_serialport.cpp LIBS pw_net TIMEOUT 240)
