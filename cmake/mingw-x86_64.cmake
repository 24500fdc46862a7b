# 64-bit Windows: the twin that tests the setup where 32-bit programs
# cannot run.
set(MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
