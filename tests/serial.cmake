pw_add_test(tst_serialport SOURCES tst_serialport.cpp LIBS pw_net TIMEOUT 240)
pw_add_test(tst_serialdevicelist SOURCES tst_serialdevicelist.cpp LIBS pw_net)
pw_add_test(tst_serialchannel SOURCES tst_serialchannel.cpp LIBS pw_net TIMEOUT 240)
pw_add_test(tst_serialendpoint SOURCES tst_serialendpoint.cpp LIBS pw_endpoints TIMEOUT 120)
