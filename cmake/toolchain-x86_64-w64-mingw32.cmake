# Cross build for x86_64 Windows with the posix-thread mingw-w64 compilers (GoogleTest needs std::thread).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAVRO_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER   ${TAVRO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${TAVRO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAVRO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The test build: ctest runs every Windows program through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh)
