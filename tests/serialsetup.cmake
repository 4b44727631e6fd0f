pw_add_test(tst_serialsetup SOURCES tst_serialsetup.cpp LIBS pw_session)
