# Shared part of the mingw-w64 toolchains. The win32 thread model keeps libwinpthread out of
# the image, so the only DLLs imported are the system's own.
set(CMAKE_C_COMPILER ${LAUNCHER_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${LAUNCHER_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${LAUNCHER_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LAUNCHER_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
