pw_add_test(tst_workspace SOURCES tst_workspace.cpp LIBS pw_session)
