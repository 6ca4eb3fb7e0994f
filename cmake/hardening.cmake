# The distribution's hardening flags (fortified string functions, stack
# protector, read-only relocations, immediate binding) for every target that
# links zirko_flags, taken from dpkg-buildflags so that they match what
# Debian builds with on the target architecture. Only the hardening and
# warning flags are asked for: the build type keeps its own optimisation.
option(ZIRKO_HARDENING "Build with the hardening flags of dpkg-buildflags" ON)
if(NOT ZIRKO_HARDENING OR ZIRKO_SANITIZE OR ZIRKO_FUZZ)
  return()
endif()
find_program(ZIRKO_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT ZIRKO_DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found: building without hardening flags")
  return()
endif()
# A cross toolchain names the Debian architecture it builds for.
if(ZIRKO_DEB_ARCH)
  set(host_arch DEB_HOST_ARCH=${ZIRKO_DEB_ARCH})
else()
  set(host_arch "")
endif()
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env ${host_arch}
            "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
            "DEB_CXXFLAGS_MAINT_STRIP=-g -O2" "DEB_LDFLAGS_MAINT_STRIP=-Wl,--as-needed"
            ${ZIRKO_DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(ZIRKO_HARDENING_${kind} ${flags})
endforeach()
# Fortified functions need an optimised build; a Debug build would only warn.
set(fortify ${ZIRKO_HARDENING_CPPFLAGS})
list(FILTER fortify INCLUDE REGEX "^-D_FORTIFY_SOURCE")
list(FILTER ZIRKO_HARDENING_CPPFLAGS EXCLUDE REGEX "^-D_FORTIFY_SOURCE")
target_compile_options(zirko_flags INTERFACE $<$<NOT:$<CONFIG:Debug>>:${fortify}>
                       ${ZIRKO_HARDENING_CPPFLAGS} ${ZIRKO_HARDENING_CXXFLAGS})
target_link_options(zirko_flags INTERFACE ${ZIRKO_HARDENING_LDFLAGS})
string(JOIN " " shown ${fortify} ${ZIRKO_HARDENING_CPPFLAGS} ${ZIRKO_HARDENING_CXXFLAGS}
       ${ZIRKO_HARDENING_LDFLAGS})
message(STATUS "Hardening flags: ${shown}")
