pw_add_test(tst_plaintextbox SOURCES tst_plaintextbox.cpp LIBS pw_ui)
