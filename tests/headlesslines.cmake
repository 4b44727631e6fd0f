pw_add_test(tst_headlesslines SOURCES tst_headlesslines.cpp LIBS pw_session)
