pw_add_test(tst_messageframer SOURCES tst_messageframer.cpp LIBS pw_session)
