pw_add_test(tst_sending SOURCES tst_sending.cpp LIBS pw_app TIMEOUT 300)
pw_netns_test(tst_sending_groups tst_sending WRAPPER --no-adapter FUNCTIONS
  groupEndpointsOnOnePortExchangeDatagrams groupSetupFailuresStillCreateTheEndpoint)
pw_netns_test(tst_sending_slowlink tst_sending WRAPPER --no-adapter --slow-lo 20mbit FUNCTIONS
  udpOverASlowLinkLosesNothingAndCountsWhatWasTaken)
