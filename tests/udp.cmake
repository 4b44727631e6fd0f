pw_add_test(tst_winsock SOURCES tst_winsock.cpp LIBS pw_core)
pw_add_test(tst_nmudp SOURCES tst_nmudp.cpp LIBS pw_core)
pw_add_test(tst_netcardinfo SOURCES tst_netcardinfo.cpp LIBS pw_ui)

pw_netns_test(tst_winsock_group tst_winsock WRAPPER --no-adapter FUNCTIONS
  groupMembersHearEachOtherAndReplyGoesToLastSenderPort)
pw_netns_test(tst_nmudp_lookup tst_nmudp WRAPPER --no-adapter FUNCTIONS
  unresolvableNameFailsFastAfterOneRetryWhenHandled)
pw_netns_test(tst_netcardinfo_one tst_netcardinfo WRAPPER --addr 10.1.2.3/8 FUNCTIONS
  firstAdapterWithOneAddress)
pw_netns_test(tst_netcardinfo_two tst_netcardinfo WRAPPER --addr 192.168.7.9/24 --addr 10.1.2.3/8 FUNCTIONS
  firstAdapterWithTwoAddresses)
pw_netns_test(tst_netcardinfo_none tst_netcardinfo WRAPPER --no-adapter FUNCTIONS
  noAdapterFallsBackToLoopback)
