# Run by `cmake --install`, where CMAKE_INSTALL_PREFIX is the prefix actually installed to
# (the configured one or --prefix), DESTDIR goes before it, and each file installed is listed
# in CMAKE_INSTALL_MANIFEST_FILES (without DESTDIR) for install_manifest.txt.

# The folder where sessions start the programs of this prefix from (XDG autostart).
function(sorn_autostart_dir out override)
  set(prefix "${CMAKE_INSTALL_PREFIX}")
  cmake_path(NORMAL_PATH prefix)
  string(REGEX REPLACE "(.)/$" "\\1" prefix "${prefix}")
  set(home "$ENV{HOME}")
  string(REGEX REPLACE "/+$" "" home "${home}")
  string(FIND "${prefix}/" "${home}/" in_home)
  if(override)
    set(dir "${override}")
  elseif(prefix MATCHES "^/usr(/local)?$")
    set(dir "/etc/xdg/autostart")
  elseif(IS_ABSOLUTE "${home}" AND in_home EQUAL 0)
    set(config "$ENV{XDG_CONFIG_HOME}")
    if(NOT IS_ABSOLUTE "${config}")
      set(config "${home}/.config")
    endif()
    set(dir "${config}/autostart")
  else()
    # Any other prefix keeps it inside: sessions read it there when <prefix>/etc/xdg is in
    # XDG_CONFIG_DIRS, and removing the prefix removes it.
    set(dir "${prefix}/etc/xdg/autostart")
  endif()
  set(${out} "${dir}" PARENT_SCOPE)
endfunction()

# Installs desktop entry SOURCE as NAME into DESTINATION, an install directory, or with
# AUTOSTART into the autostart folder. Written straight there, not staged in the build tree,
# which an install run with sudo would leave owned by root.
function(sorn_write_desktop_entry source name bindir destination autostart autostart_override)
  if(autostart)
    sorn_autostart_dir(destination "${autostart_override}")
  elseif(NOT IS_ABSOLUTE "${destination}")
    set(destination "${CMAKE_INSTALL_PREFIX}/${destination}")
  endif()
  if(NOT IS_ABSOLUTE "${bindir}")
    set(bindir "${CMAKE_INSTALL_PREFIX}/${bindir}")
  endif()
  file(READ "${source}" entry)
  string(REGEX REPLACE "(^|\n)(Exec=)([^/\n])" "\\1\\2${bindir}/\\3" entry "${entry}")
  set(installed "${destination}/${name}")
  message(STATUS "Installing: $ENV{DESTDIR}${installed}")
  file(WRITE "$ENV{DESTDIR}${installed}" "${entry}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${installed}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()
