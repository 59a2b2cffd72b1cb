# Run by cpack once it has made the packages (CPACK_POST_BUILD_SCRIPTS), on each -dbgsym package
# it split off a program's package. Two things CPack leaves wrong in them are put right, so that
# dpkg and lintian take them as they take the distribution's own debug packages:
# - md5sums names the debug file by its path in the staging folder instead of in the package, so
#   dpkg --verify and debsums would find nothing to check;
# - there is no /usr/share/doc/<package>-dbgsym: the distribution's debug packages have it as a
#   link to the documents (copyright, changelog) of the package they belong to, and depend on
#   that package at the same version, as CPack's do.
find_program(tandra_dpkg_deb dpkg-deb)
foreach(package_file IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package_file MATCHES "/([a-z0-9.+-]+)-dbgsym_[^/]*\\.ddeb$")
    continue()
  endif()
  set(package ${CMAKE_MATCH_1})
  if(NOT tandra_dpkg_deb)
    message(WARNING "dpkg-deb not found: ${package}-dbgsym keeps CPack's md5sums and has no documents")
    break()
  endif()
  set(tree "${package_file}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND ${tandra_dpkg_deb} --raw-extract "${package_file}" "${tree}"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-deb could not unpack ${package_file}")
  endif()

  file(MAKE_DIRECTORY "${tree}/usr/share/doc")
  file(CHMOD "${tree}/usr/share" "${tree}/usr/share/doc" DIRECTORY_PERMISSIONS
       OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  file(CREATE_LINK ${package} "${tree}/usr/share/doc/${package}-dbgsym" SYMBOLIC)

  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${tree}" "${tree}/usr/*")
  list(SORT files)
  set(sums "")
  foreach(path IN LISTS files)
    if(NOT IS_SYMLINK "${tree}/${path}")
      file(MD5 "${tree}/${path}" sum)
      string(APPEND sums "${sum}  ${path}\n")
    endif()
  endforeach()
  file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
  file(CHMOD "${tree}/DEBIAN/md5sums" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

  execute_process(COMMAND ${tandra_dpkg_deb} --root-owner-group --build "${tree}" "${package_file}"
                  OUTPUT_QUIET RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-deb could not pack ${package_file} again")
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
