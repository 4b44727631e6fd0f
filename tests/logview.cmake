pw_add_test(tst_logview SOURCES tst_logview.cpp LIBS pw_ui)
