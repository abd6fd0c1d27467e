# Tests of the shim's datagram paths (sendto/recvfrom and their kin, IPX socket options).
# Included by tests/shim/CMakeLists.txt.
set(ORBWS_PATHS_DIR ${CMAKE_SOURCE_DIR}/orbws)

if(NOT ORB_WIN32)
  # The decisions of the paths, natively and under the sanitizers.
  orb_native_test(paths_rules
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/paths_plan_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/paths_sockopt_test.cpp
            ${ORBWS_PATHS_DIR}/datapath_addr.cpp
            ${ORBWS_PATHS_DIR}/datapath_plan.cpp
            ${ORBWS_PATHS_DIR}/sockopt_answers.cpp
    LIBS orbws_core orb_link)
  target_include_directories(paths_rules PRIVATE ${ORBWS_PATHS_DIR})
else()
  # Both ends of the link on real sockets under Wine, each run in a network namespace of its
  # own (it binds 127.0.0.1:3668). The shim stands in for wsock32.dll, and in a second run
  # for ws2_32.dll, where WSARecvFrom has a real function to bind.
  orb_win_gtest(paths_wine_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/paths_wine_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/paths_wine_support.cpp
    LIBS orb_link ws2_32)
  add_dependencies(paths_wine_test orbws scribe)
  set(paths_copies COPY $<TARGET_FILE:orbws>=orbws.dll $<TARGET_FILE:scribe>=SCRIBE.DLL)
  orb_wine_test(paths_wsock32 TARGET paths_wine_test WORKDIR ${paths_copies}
                NETNS pathsa ADDR 203.0.113.5/24 OVERRIDES "wsock32=n,b"
                ENV SCRIBE_LEVEL=2000 ARGS --shim-as wsock32.dll --gtest_filter=-WsaPaths.*
                TIMEOUT 180)
  orb_wine_test(paths_ws2_32 TARGET paths_wine_test WORKDIR ${paths_copies}
                NETNS pathsb ADDR 203.0.113.5/24 OVERRIDES "ws2_32=n,b"
                ENV SCRIBE_LEVEL=2000 ARGS --shim-as ws2/ws2_32.dll --gtest_filter=WsaPaths.*
                TIMEOUT 180)
endif()
