# The test build: the same sources for x86_64 Windows, whose programs ctest runs through Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAVRO_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
