pw_add_test(tst_endpoints SOURCES tst_endpoints.cpp LIBS pw_ui TIMEOUT 300)
