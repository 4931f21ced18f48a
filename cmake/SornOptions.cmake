# Build options, endpoint constants and compiler settings shared by every target.

option(SORN_WERROR "Treat compiler warnings as errors" OFF)
option(SORN_BUILD_DEMO "Build the demo service and each engine's app, which the demo, tests and benchmarks run" ON)
option(SORN_BUILD_TESTS "Build the tests" ON)
option(SORN_BUILD_BENCHMARKS "Build the benchmarks" ON)
option(SORN_BUILD_FUZZERS "Build the libFuzzer harnesses (needs clang)" OFF)
set(SORN_WEB_ENGINE "qtwebengine" CACHE STRING "Web engine the app runs the dashboard in: qtwebengine or webkitgtk")
set_property(CACHE SORN_WEB_ENGINE PROPERTY STRINGS qtwebengine webkitgtk)
if(NOT SORN_WEB_ENGINE MATCHES "^(qtwebengine|webkitgtk)$")
  message(FATAL_ERROR "SORN_WEB_ENGINE is '${SORN_WEB_ENGINE}': use qtwebengine or webkitgtk")
endif()
set(SORN_SANITIZE "" CACHE STRING "Sanitizers to build with: empty, 'address;undefined' or 'thread'")

set(SORN_DASHBOARD_URL "https://app.sorn.chat/sorn/dashboard" CACHE STRING
    "Dashboard page the app loads")
set(SORN_SERVICE_DOMAIN "sorn.chat" CACHE STRING
    "Domain whose hosts stay inside the app's web view")
set(SORN_DEFAULT_API_BASE "https://api.sorn.chat/v1/api" CACHE STRING
    "REST API base used when the page gives none")

add_library(sorn_compile_options INTERFACE)
target_compile_options(sorn_compile_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough
  $<$<BOOL:${SORN_WERROR}>:-Werror>)
# Every program's diagnostics go to GLib's log under one domain: silent by default, shown
# with G_MESSAGES_DEBUG=sorn.
target_compile_definitions(sorn_compile_options INTERFACE G_LOG_DOMAIN="sorn")

if(SORN_SANITIZE)
  list(JOIN SORN_SANITIZE "," _sorn_sanitizers)
  add_compile_options(-fsanitize=${_sorn_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_sorn_sanitizers})
endif()
