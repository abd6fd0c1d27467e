# Cross-compiles for Windows with mingw-w64 for the processor the including toolchain file
# names in ORB_MINGW (posix threads, so std::thread and std::mutex work). Runtimes are
# linked statically so each DLL ships alone.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ORB_MINGW})
set(CMAKE_C_COMPILER ${ORB_MINGW}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORB_MINGW}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${ORB_MINGW}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ORB_MINGW}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
