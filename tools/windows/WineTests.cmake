# Included by the top level in a Windows cross build: every test program runs under Wine
# through tools/windows/wine-run.sh, in a Wine prefix of the build folder's own, with the
# Qt and MinGW runtime DLLs found where they lie (nothing is copied beside the tests).
get_filename_component(_qt_bin "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}" ABSOLUTE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE _libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(_gcc_runtime "${_libstdcxx}" DIRECTORY)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwinpthread-1.dll
                OUTPUT_VARIABLE _winpthread OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(_mingw_runtime "${_winpthread}" DIRECTORY)
foreach(_dll "${_libstdcxx}" "${_winpthread}")
  if(NOT IS_ABSOLUTE "${_dll}" OR NOT EXISTS "${_dll}")
    message(FATAL_ERROR "The MinGW runtime DLL ${_dll} was not found: is g++-mingw-w64-x86-64-posix installed?")
  endif()
endforeach()
find_program(PANTRIMO_WINE wine)
if(NOT PANTRIMO_WINE)
  message(WARNING "wine is not installed: the tests of this Windows build cannot run (bash tools/windows/install-deps.sh)")
endif()

set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tools/windows/wine-run.sh
    --prefix ${CMAKE_BINARY_DIR}/wine --path ${_qt_bin} --path ${_gcc_runtime} --path ${_mingw_runtime})
# Qt Test programs write their report to a file that the wrapper prints.
set(PANTRIMO_QTEST_EMULATOR ${CMAKE_CROSSCOMPILING_EMULATOR} --qtest)
