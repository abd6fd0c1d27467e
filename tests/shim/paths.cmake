# Tests of the shim's datagram paths (sendto/recvfrom and their kin, IPX socket options).
# Included by tests/shim/CMakeLists.txt.
set(ORBWS_PATHS_DIR ${CMAKE_SOURCE_DIR}/orbws)
set(ORBWS_PATHS_RULES
    ${ORBWS_PATHS_DIR}/datapath_addr.cpp
    ${ORBWS_PATHS_DIR}/datapath_plan.cpp
    ${ORBWS_PATHS_DIR}/sockopt_answers.cpp)

if(NOT ORB_WIN32)
  # The decisions of the paths, natively and under the sanitizers.
  orb_native_test(paths_rules
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/paths_plan_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/paths_sockopt_test.cpp
            ${ORBWS_PATHS_RULES}
    LIBS orb_link)
  target_include_directories(paths_rules PRIVATE ${ORBWS_PATHS_DIR})
endif()
