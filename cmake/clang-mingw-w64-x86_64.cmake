# Cross-build for 64-bit Windows with clang (--target=x86_64-w64-mingw32) and lld, on Debian's
# MinGW-w64 headers and libraries: a second compiler for programs that use the module interface
# library's DLL, which MinGW's g++ builds. Used by scripts/test-windows for the example consumer.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(toolchain_triple x86_64-w64-mingw32)
set(mingw_sysroot /usr/${toolchain_triple})
# The C++ library's headers and archives are those of MinGW's g++ (POSIX thread model).
execute_process(COMMAND ${toolchain_triple}-g++-posix -print-libgcc-file-name
                OUTPUT_VARIABLE mingw_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(mingw_gcc_dir ${mingw_libgcc} DIRECTORY)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${toolchain_triple})
set(CMAKE_CXX_COMPILER_TARGET ${toolchain_triple})
set(CMAKE_SYSROOT ${mingw_sysroot})
set(CMAKE_RC_COMPILER ${toolchain_triple}-windres)

set(CMAKE_CXX_FLAGS_INIT "-isystem ${mingw_gcc_dir}/include/c++ \
-isystem ${mingw_gcc_dir}/include/c++/${toolchain_triple} \
-isystem ${mingw_gcc_dir}/include/c++/backward")
# A program that needs no runtime DLL beside it; the POSIX thread model's C++ library needs
# winpthread.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${mingw_gcc_dir} -static")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lpthread")

set(CMAKE_FIND_ROOT_PATH ${mingw_sysroot})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages are found where the caller installed them (CMAKE_PREFIX_PATH), outside the sysroot.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
