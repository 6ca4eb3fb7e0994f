# Cross-builds for another Debian architecture with Debian's cross compiler
# (g++-<triplet>) and the architecture's development packages (:<arch>):
#   cmake -DZIRKO_DEB_ARCH=arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/debian-cross.cmake ...
# Programs built for an architecture the machine can't run, the tests and the
# tools run at build time included, go through qemu-user.
if(NOT ZIRKO_DEB_ARCH)
  message(FATAL_ERROR "debian-cross.cmake needs -DZIRKO_DEB_ARCH=<Debian architecture>")
endif()
# The compiler checks configure projects of their own, which need it too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZIRKO_DEB_ARCH)
foreach(variable GNU_TYPE MULTIARCH GNU_CPU)
  execute_process(COMMAND dpkg-architecture -a${ZIRKO_DEB_ARCH} -qDEB_HOST_${variable}
                  OUTPUT_VARIABLE host_${variable} OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# The machine runs i386 programs itself: that build is not a cross build to
# CMake, so its tests and build-time tools run as they are. Other
# architectures run through the emulator.
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE build_arch
                OUTPUT_STRIP_TRAILING_WHITESPACE)
if(build_arch STREQUAL "amd64" AND ZIRKO_DEB_ARCH STREQUAL "i386")
  set(runs_here TRUE)
else()
  set(runs_here FALSE)
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_SYSTEM_PROCESSOR ${host_GNU_CPU})
endif()
set(CMAKE_C_COMPILER ${host_GNU_TYPE}-gcc)
set(CMAKE_CXX_COMPILER ${host_GNU_TYPE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${host_MULTIARCH})
# Libraries, headers and packages of the target only; programs of the host.
set(CMAKE_FIND_ROOT_PATH /usr/${host_GNU_TYPE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${host_MULTIARCH}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Programs take the target's run-time libraries from the multiarch folders
# (libc6:<arch>, libstdc++6:<arch>): with the cross toolchain's own C library
# instead (qemu's -L /usr/<triplet>), the first thread a program starts
# never runs.
if(NOT runs_here)
  find_program(ZIRKO_QEMU qemu-${host_GNU_CPU} REQUIRED)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZIRKO_QEMU})
endif()
