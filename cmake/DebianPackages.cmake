# The Debian packages `cpack -G DEB` makes from an installation, one per part (install component)
# that this build has, and each program's debug symbols in a package of its own:
#   tandra-cli_<version>-1_<arch>.deb          the command-line program, the udev rule, no Qt
#   tandra-usb_<version>-1_<arch>.deb          the window; depends on tandra-cli of its version
#   tandra-cli-dbgsym_<version>-1_<arch>.ddeb  debug symbols of tandra-cli
#   tandra-usb-dbgsym_<version>-1_<arch>.ddeb  debug symbols of the window
# Included from packaging/, which sets tandra_parts, tandra_package_<part>, tandra_rule_part and
# TANDRA_MAINTAINER. The programs are packed from the build as it is: CPack splits their debug
# information off into the -dbgsym packages and strips them. ./build.sh package builds them with
# RelWithDebInfo, optimised as the distribution builds its own and with the debug information.

set(CPACK_PACKAGE_NAME tandra-usb)
set(CPACK_PACKAGE_VENDOR "The Tandra USB developers")
set(CPACK_PACKAGE_CONTACT "${TANDRA_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${tandra_parts})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SOURCE tandra-usb)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tandra.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The debug symbols are split off the programs into <package>-dbgsym, which strips them; CPack's
# own stripping would leave nothing to split. What CPack leaves wrong there is put right after.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_STRIP_FILES OFF)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebugSymbolPackages.cmake)

set(tandra_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
set(tandra_about "Tandra USB drives a USB EPROM programmer with a five-socket gang adapter:
program, blank-check, verify, read back or program-compare one to five UV
EPROMs (2716 to 27C2001) in one pass, with a result per socket. Images load
and save as binary, Intel Hex, Motorola S-records and Ascii hex.")

foreach(part IN LISTS tandra_parts)
  string(TOUPPER ${part} PART)
  set(CPACK_DEBIAN_${PART}_PACKAGE_NAME ${tandra_package_${part}})
  if(part STREQUAL tandra_rule_part)
    # The postinst reloads udev; it goes with the rule.
    set(CPACK_DEBIAN_${PART}_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/postinst)
  endif()
endforeach()

if(cli IN_LIST tandra_parts)
  set(CPACK_DEBIAN_CLI_DESCRIPTION "command-line program for a USB gang EPROM programmer
${tandra_about}

This package holds tandra-cli, the command-line program for production
lines and scripts (a result line per socket, JSON output, exit codes), and
the udev rule that lets the person at the desk use the programmer without
root. It needs no graphical libraries: the window is in tandra-usb.")
  # Up to 1.1.0 the one package tandra-usb held tandra-cli and the rule.
  set(CPACK_DEBIAN_CLI_PACKAGE_BREAKS "tandra-usb (<< ${tandra_version})")
  set(CPACK_DEBIAN_CLI_PACKAGE_REPLACES "tandra-usb (<< ${tandra_version})")
endif()

if(window IN_LIST tandra_parts)
  if(cli IN_LIST tandra_parts)
    set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "tandra-cli (= ${tandra_version})")
    set(tandra_window_words "The command-line program and
the udev rule come with tandra-cli.")
  else()
    set(tandra_window_words "The udev rule that lets the
person at the desk use the programmer without root comes with it.")
  endif()
  set(CPACK_DEBIAN_WINDOW_DESCRIPTION "front end of a USB gang EPROM programmer
${tandra_about}

This package holds the window (tandra-usb). ${tandra_window_words}")
endif()

include(CPack)
