# orb_import_check(): registers win32.imports, which reads the import table of every DLL and
# program that this tree builds (tools/check-imports.sh) and fails when one imports anything
# but Windows system DLLs. The shim (target orbws) may not import Winsock at all. Call it once,
# at the end of the top-level CMakeLists.txt, so that it sees every target: new ones are
# covered without edits here.

# Targets that must not import Winsock: they bind the real library at run time.
set(ORB_NO_WINSOCK_TARGETS orbws)

function(orb_collect_binaries dir out)
  set(found ${${out}})
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    get_target_property(excluded ${t} EXCLUDE_FROM_ALL)
    if(type MATCHES "^(SHARED_LIBRARY|MODULE_LIBRARY|EXECUTABLE)$" AND NOT excluded)
      list(APPEND found ${t})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    # Only this tree's directories: GoogleTest's own are built as static libraries anyway.
    string(FIND "${sub}/" "${CMAKE_SOURCE_DIR}/" at)
    if(at EQUAL 0)
      orb_collect_binaries(${sub} found)
    endif()
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

function(orb_import_check)
  if(NOT ORB_WIN32)
    return()
  endif()
  set(binaries "")
  orb_collect_binaries(${CMAKE_SOURCE_DIR} binaries)
  set(args "")
  foreach(t IN LISTS binaries)
    if(t IN_LIST ORB_NO_WINSOCK_TARGETS)
      list(APPEND args "$<TARGET_FILE:${t}>:no-winsock")
    else()
      list(APPEND args "$<TARGET_FILE:${t}>")
    endif()
  endforeach()
  if(args)
    add_test(NAME win32.imports COMMAND ${CMAKE_SOURCE_DIR}/tools/check-imports.sh ${args})
    set_tests_properties(win32.imports PROPERTIES TIMEOUT 120 ENVIRONMENT OBJDUMP=${CMAKE_OBJDUMP})
  endif()
endfunction()
