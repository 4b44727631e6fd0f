pw_add_test(tst_mainwindow SOURCES tst_mainwindow.cpp LIBS pw_app)
pw_add_test(tst_language SOURCES tst_language.cpp LIBS pw_app)
