# The layers HACKING.md describes, checked when the build is configured: a file includes
# project headers only from its own folder and the folders below it, and the logic
# libraries reach no engine header, neither by their sources (through project headers
# included) nor by what they link.

# Project folders and the folders below them, whose headers they may include.
set(_sorn_layers
  "platform/text:"
  "platform/gobject:"
  "platform/dispatch:"
  "platform/suite:"
  "platform/http:"
  "platform/desktop:platform/gobject"
  "platform/render:platform/gobject"
  "platform/widgethost:platform/gobject,platform/dispatch,platform/render,platform/desktop,platform/text"
  "platform/screencast:platform/gobject,platform/dispatch,platform/text"
  "shared:platform/suite"
  "broadcast:shared,platform"
  "widgets:shared,platform"
  "app:shared,platform"
  "demo:platform/gobject")

# Plain C++ libraries that decisions live in, tested without a display.
set(SORN_LOGIC_LIBRARIES
  sorn_platform_dispatch sorn_platform_http_transport sorn_platform_extension_api
  sorn_platform_widgethost sorn_platform_text sorn_shared sorn_app_logic sorn_app_launcher_logic
  sorn_broadcast_logic sorn_broadcast_signaling sorn_widgets)
set(_sorn_engine_header "^(gtk|gdk|glib|gio|gobject|gst|webkit|jsc|cairo|pango|curl|sqlite3|libportal|Qt|Q[A-Z][A-Za-z]*$)")
set(_sorn_engine_target "^(PkgConfig::(GLIB|GTK4|WEBKIT|CURL|GSTREAMER|CAIRO|SQLITE3|PORTAL)|Qt6::)")

# The layer of a path relative to the project ("platform/http/CurlSession.h" -> platform/http).
function(_sorn_layer_of path out)
  string(REGEX MATCH "^(platform/[a-z]+|[a-z]+)/" layer "${path}")
  string(REGEX REPLACE "/$" "" layer "${layer}")
  set(${out} "${layer}" PARENT_SCOPE)
endfunction()

function(_sorn_check_folder_layers)
  set(failures "")
  foreach(entry IN LISTS _sorn_layers)
    string(REPLACE ":" ";" parts "${entry}")
    list(GET parts 0 layer)
    list(LENGTH parts count)
    set(allowed "${layer}")
    if(count GREATER 1)
      list(GET parts 1 below)
      string(REPLACE "," ";" below "${below}")
      list(APPEND allowed ${below})
    endif()
    file(GLOB_RECURSE files RELATIVE "${PROJECT_SOURCE_DIR}" "${PROJECT_SOURCE_DIR}/${layer}/*.h"
         "${PROJECT_SOURCE_DIR}/${layer}/*.cpp")
    foreach(file IN LISTS files)
      file(STRINGS "${PROJECT_SOURCE_DIR}/${file}" includes REGEX "^#include \"")
      foreach(line IN LISTS includes)
        string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
        if(NOT EXISTS "${PROJECT_SOURCE_DIR}/${header}")
          continue()  # generated, or beside the file
        endif()
        _sorn_layer_of("${header}" target_layer)
        set(ok FALSE)
        foreach(prefix IN LISTS allowed)
          if(target_layer STREQUAL prefix OR target_layer MATCHES "^${prefix}/")
            set(ok TRUE)
          endif()
        endforeach()
        if(NOT ok)
          string(APPEND failures "\n  ${file} includes ${header}: ${layer} sees only ${allowed}")
        endif()
      endforeach()
    endforeach()
  endforeach()
  if(failures)
    message(FATAL_ERROR "Layer violations:${failures}")
  endif()
endfunction()

# Every header a logic library's sources reach through project headers, checked for engine
# headers; and its usage requirements, checked for engine targets.
function(_sorn_check_logic_library target)
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  set(queue "")
  foreach(source IN LISTS sources)
    file(RELATIVE_PATH relative "${PROJECT_SOURCE_DIR}" "${source_dir}/${source}")
    list(APPEND queue "${relative}")
  endforeach()
  set(seen "")
  set(failures "")
  while(queue)
    list(POP_FRONT queue file)
    if(file IN_LIST seen)
      continue()
    endif()
    list(APPEND seen "${file}")
    file(STRINGS "${PROJECT_SOURCE_DIR}/${file}" includes REGEX "^#include [<\"]")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include [<\"]([^>\"]+)[>\"].*" "\\1" header "${line}")
      if(EXISTS "${PROJECT_SOURCE_DIR}/${header}")
        list(APPEND queue "${header}")
      elseif(header MATCHES "${_sorn_engine_header}")
        string(APPEND failures "\n  ${file} includes <${header}>")
      endif()
    endforeach()
  endwhile()

  set(pending ${target})
  set(visited "")
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST visited)
      continue()
    endif()
    list(APPEND visited ${current})
    if(current MATCHES "${_sorn_engine_target}")
      string(APPEND failures "\n  it links ${current}")
      continue()
    endif()
    if(NOT TARGET ${current})
      continue()
    endif()
    get_target_property(linked ${current} INTERFACE_LINK_LIBRARIES)
    foreach(library IN LISTS linked)
      # A static library's private dependencies come along for linking only: no headers.
      if(library AND NOT library MATCHES "^\\$<LINK_ONLY:")
        list(APPEND pending ${library})
      endif()
    endforeach()
  endwhile()
  if(failures)
    message(FATAL_ERROR "${target} is a logic library but reaches an engine:${failures}")
  endif()
endfunction()

function(sorn_check_layers)
  _sorn_check_folder_layers()
  foreach(target IN LISTS SORN_LOGIC_LIBRARIES)
    _sorn_check_logic_library(${target})
  endforeach()
endfunction()
