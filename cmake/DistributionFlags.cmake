# The distribution's hardening flags, as its own packages are built: stack protector, fortified
# string and memory calls, read-only relocations and immediate binding (position-independent
# executables are the compiler's default there). dpkg-buildflags says which; on a system without
# it nothing is added.
option(TANDRA_DISTRIBUTION_FLAGS "Build with the distribution's hardening flags (dpkg-buildflags)" ON)

if(TANDRA_DISTRIBUTION_FLAGS AND NOT TANDRA_SANITIZE AND NOT TANDRA_FUZZ AND NOT CMAKE_CROSSCOMPILING
   AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
  find_program(TANDRA_DPKG_BUILDFLAGS dpkg-buildflags)
  if(TANDRA_DPKG_BUILDFLAGS)
    set(tandra_flags_of)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${TANDRA_DPKG_BUILDFLAGS} --get ${kind}
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
      if(failed)
        set(flags "")
      endif()
      separate_arguments(flags UNIX_COMMAND "${flags}")
      # The build type decides optimisation and debug information; paths stay as they are.
      list(FILTER flags EXCLUDE REGEX "^(-g|-O[0-9s]?|-ffile-prefix-map=.*|-fdebug-prefix-map=.*)$")
      # Fortified calls need optimisation: without it the compiler only warns.
      if(CMAKE_BUILD_TYPE STREQUAL "Debug")
        list(FILTER flags EXCLUDE REGEX "^-D_FORTIFY_SOURCE=")
      endif()
      set(tandra_${kind} ${flags})
    endforeach()
    add_compile_options(${tandra_CPPFLAGS} ${tandra_CXXFLAGS})
    add_link_options(${tandra_LDFLAGS})
    message(STATUS "Hardening flags of the distribution: ${tandra_CPPFLAGS} ${tandra_CXXFLAGS} ${tandra_LDFLAGS}")
  endif()
endif()
