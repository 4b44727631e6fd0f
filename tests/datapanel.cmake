pw_add_test(tst_datapanel SOURCES tst_datapanel.cpp LIBS pw_ui)
pw_add_test(tst_refreshstatus SOURCES tst_refreshstatus.cpp LIBS pw_ui)
