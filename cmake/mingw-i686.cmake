# 32-bit Windows: what players run.
set(ORB_MINGW i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
