# The shim's datagram paths: sendto/send, recvfrom/recv, WSARecvFrom/WSARecv, and the IPX
# socket options. Included by orbws/CMakeLists.txt in both configurations; the DLL exists
# only in the Windows one.
if(TARGET orbws)
  target_sources(orbws PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/datapath_addr.cpp
    ${CMAKE_CURRENT_LIST_DIR}/datapath_plan.cpp
    ${CMAKE_CURRENT_LIST_DIR}/datapath_rewrite.cpp
    ${CMAKE_CURRENT_LIST_DIR}/datapath_send.cpp
    ${CMAKE_CURRENT_LIST_DIR}/datapath_recv.cpp
    ${CMAKE_CURRENT_LIST_DIR}/datapath_wsarecv.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sockopt_answers.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sockopt.cpp)
endif()
set(ORBWS_HAVE_PATHS ON)
