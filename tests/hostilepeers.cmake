pw_add_test(tst_hostilepeers SOURCES tst_hostilepeers.cpp LIBS pw_app TIMEOUT 300)
pw_netns_test(tst_hostilepeers_group tst_hostilepeers WRAPPER --no-adapter FUNCTIONS
  failingGroupSendShowsItsBoxesOnce)
