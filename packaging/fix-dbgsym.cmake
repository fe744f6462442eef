# Run by CPack after it has built the packages (CPACK_POST_BUILD_SCRIPTS).
# Mends the debug-symbol package that CPack 3.25 builds:
# - its md5sums names each file by its path in the staging folder rather than
#   in the package (a CPack fault: lintian's md5sums-lists-nonexistent-file);
# - it has no copyright or changelog: as in Debian's own -dbgsym packages, its
#   documentation folder becomes a link to the program's;
# - its .debug files are executable, where Debian installs them 0644.
find_program(GST_DPKG_DEB dpkg-deb REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "-dbgsym_[^/]*\\.d?deb$")
    continue()
  endif()
  set(root "${package}.root")
  file(REMOVE_RECURSE "${root}")
  execute_process(COMMAND ${GST_DPKG_DEB} --raw-extract "${package}" "${root}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${GST_DPKG_DEB} --field "${package}" Package
                  OUTPUT_VARIABLE name OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX REPLACE "-dbgsym$" "" program "${name}")

  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/usr/*")
  list(SORT files)
  set(md5sums "")
  foreach(f IN LISTS files)
    file(CHMOD "${root}/${f}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    file(MD5 "${root}/${f}" sum)
    string(APPEND md5sums "${sum}  ${f}\n")
  endforeach()
  file(WRITE "${root}/DEBIAN/md5sums" "${md5sums}")
  file(CHMOD "${root}/DEBIAN/md5sums" "${root}/DEBIAN/control"
       PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

  file(MAKE_DIRECTORY "${root}/usr/share/doc")
  file(CREATE_LINK "${program}" "${root}/usr/share/doc/${name}" SYMBOLIC)

  # Folders 0755 whatever the umask of the build.
  file(GLOB_RECURSE dirs LIST_DIRECTORIES true "${root}/*")
  foreach(d IN LISTS dirs ITEMS "${root}")
    if(IS_DIRECTORY "${d}" AND NOT IS_SYMLINK "${d}")
      file(CHMOD "${d}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    endif()
  endforeach()

  execute_process(COMMAND ${GST_DPKG_DEB} --root-owner-group --build "${root}" "${package}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${root}")
endforeach()
