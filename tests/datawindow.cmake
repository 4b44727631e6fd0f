pw_add_test(tst_datawindow SOURCES tst_datawindow.cpp LIBS pw_app)
pw_add_test(tst_refreshstatus SOURCES tst_refreshstatus.cpp LIBS pw_app)
