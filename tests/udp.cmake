pw_add_test(tst_winsock SOURCES tst_winsock.cpp LIBS pw_core)
pw_add_test(tst_nmudp SOURCES tst_nmudp.cpp LIBS pw_core)
pw_add_test(tst_netcardinfo SOURCES tst_netcardinfo.cpp LIBS pw_ui)

# The cases that need a network of their own run the same executables again
# under netns-run, each with the adapter set-up it asks for; run anywhere
# else those cases skip themselves.
#   pw_udp_netns_test(<name> <target> [WRAPPER <netns-run options>] FUNCTIONS <test functions>)
function(pw_udp_netns_test name target)
  cmake_parse_arguments(N "" "" "WRAPPER;FUNCTIONS" ${ARGN})
  add_test(NAME ${name}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/netns-run ${N_WRAPPER} -- $<TARGET_FILE:${target}> ${N_FUNCTIONS})
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")
endfunction()

pw_udp_netns_test(tst_winsock_group tst_winsock WRAPPER --no-adapter FUNCTIONS
  groupMembersHearEachOtherAndReplyGoesToLastSenderPort)
pw_udp_netns_test(tst_nmudp_lookup tst_nmudp WRAPPER --no-adapter FUNCTIONS
  unresolvableNameFailsFastAfterOneRetryWhenHandled)
pw_udp_netns_test(tst_netcardinfo_one tst_netcardinfo WRAPPER --addr 10.1.2.3/8 FUNCTIONS
  firstAdapterWithOneAddress)
pw_udp_netns_test(tst_netcardinfo_two tst_netcardinfo WRAPPER --addr 192.168.7.9/24 --addr 10.1.2.3/8 FUNCTIONS
  firstAdapterWithTwoAddresses)
pw_udp_netns_test(tst_netcardinfo_none tst_netcardinfo WRAPPER --no-adapter FUNCTIONS
  noAdapterFallsBackToLoopback)
