# 64-bit Windows: a test vehicle for machines that cannot run 32-bit programs;
# the product ships as i686.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
