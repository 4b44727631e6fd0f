pw_add_test(tst_mainwindow SOURCES tst_mainwindow.cpp LIBS pw_app)
