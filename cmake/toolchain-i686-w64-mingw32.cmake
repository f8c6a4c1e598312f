# The product: 32-bit Windows, whose programs ctest runs through Wine 10's WoW64 in the sid root.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TAVRO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine32-run.sh)
