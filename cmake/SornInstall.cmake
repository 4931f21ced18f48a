# How installed files name one another. Paths between installed files are written relative
# to the file that holds them, so a tree works at whatever prefix `cmake --install --prefix`
# put it, under a DESTDIR, or unpacked from a package. What must be absolute (the Exec of a
# desktop entry, read by the session) is written by `cmake --install` itself, for the prefix
# it installs to, by cmake/SornInstallTime.cmake.

set(SORN_AUTOSTART_DIR "" CACHE PATH
    "Folder the widget host's autostart entry is installed to; empty: /etc/xdg/autostart for \
the prefixes /usr and /usr/local, ~/.config/autostart for a prefix in your home, else <prefix>/etc/xdg/autostart")

# sorn_relative_install_path(OUT FROM_DIR TO_PATH): TO_PATH as seen from FROM_DIR, both
# install directories of GNUInstallDirs (relative to the prefix, or absolute).
function(sorn_relative_install_path out from to)
  if(IS_ABSOLUTE "${to}")
    set(${out} "${to}" PARENT_SCOPE)
    return()
  endif()
  # Any root serves: both paths are under the same prefix.
  file(RELATIVE_PATH relative "/prefix/${from}" "/prefix/${to}")
  set(${out} "${relative}" PARENT_SCOPE)
endfunction()

# The broadcast extension starts its indicator from <bin>/../libexec/sorn.
sorn_relative_install_path(_sorn_libexec_from_bin "${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_LIBEXECDIR}")
if(NOT _sorn_libexec_from_bin STREQUAL "../libexec")
  message(FATAL_ERROR "sorn-broadcast finds its indicator in <bindir>/../libexec/sorn: keep "
                      "CMAKE_INSTALL_LIBEXECDIR (${CMAKE_INSTALL_LIBEXECDIR}) as libexec beside bin")
endif()

# sorn_install_desktop_entry(FILE DESTINATION DIR | AUTOSTART): installs desktop entry FILE
# into the install directory DIR, or into the autostart folder of the prefix being installed
# to. An Exec naming a bare program gets the absolute bin folder of that prefix.
function(sorn_install_desktop_entry file)
  cmake_parse_arguments(arg "AUTOSTART" "DESTINATION" "" ${ARGN})
  get_filename_component(name "${file}" NAME)
  install(CODE "include(\"${PROJECT_SOURCE_DIR}/cmake/SornInstallTime.cmake\")
sorn_write_desktop_entry(\"${file}\" \"${name}\" \"${CMAKE_INSTALL_BINDIR}\" \"${arg_DESTINATION}\" ${arg_AUTOSTART} \"${SORN_AUTOSTART_DIR}\")")
endfunction()
