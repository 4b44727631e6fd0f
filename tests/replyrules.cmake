pw_add_test(tst_replyrules SOURCES tst_replyrules.cpp LIBS pw_core)
pw_add_test(tst_replyrulesdialog SOURCES tst_replyrulesdialog.cpp LIBS pw_datawindow)
