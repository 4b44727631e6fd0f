pw_add_test(tst_endpoints SOURCES tst_endpoints.cpp LIBS pw_app TIMEOUT 300)
