# 64-bit Windows: the same programs and tests, for machines that cannot run 32-bit ones.
set(ORB_MINGW x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
