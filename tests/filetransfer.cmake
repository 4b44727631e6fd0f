pw_add_test(tst_filetransfer SOURCES tst_filetransfer.cpp LIBS pw_app TIMEOUT 300)
