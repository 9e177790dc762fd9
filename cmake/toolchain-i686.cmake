# The shipped 32-bit launcher. Nothing built here can run on this machine (no 32-bit Wine),
# so no test runner is configured.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
