pw_add_test(tst_datagramcalls SOURCES tst_datagramcalls.cpp LIBS pw_net)
pw_add_test(tst_udpsocket SOURCES tst_udpsocket.cpp LIBS pw_net)
pw_add_test(tst_localaddress SOURCES tst_localaddress.cpp LIBS pw_net)
pw_add_test(tst_multicastmember SOURCES tst_multicastmember.cpp LIBS pw_net NETNS)

pw_netns_test(tst_udpsocket_lookup tst_udpsocket WRAPPER --no-adapter FUNCTIONS
  unresolvableNameFailsFastAfterOneRetryWhenHandled)
pw_netns_test(tst_localaddress_one tst_localaddress WRAPPER --addr 10.1.2.3/8 FUNCTIONS
  firstAdapterWithOneAddress)
pw_netns_test(tst_localaddress_two tst_localaddress WRAPPER --addr 192.168.7.9/24 --addr 10.1.2.3/8 FUNCTIONS
  firstAdapterWithTwoAddresses)
pw_netns_test(tst_localaddress_none tst_localaddress WRAPPER --no-adapter FUNCTIONS
  noAdapterFallsBackToLoopback)
