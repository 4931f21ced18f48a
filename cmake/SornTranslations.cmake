# The "sorn" text domain: the translations in po/ (one <language>.po for each line of
# po/LINGUAS) and the functions that put data files through them.

find_program(SORN_MSGFMT msgfmt REQUIRED)
set(SORN_PO_DIR "${PROJECT_SOURCE_DIR}/po")
file(STRINGS "${SORN_PO_DIR}/LINGUAS" SORN_LINGUAS REGEX "^[^#]")
set(SORN_PO_FILES "")
foreach(language IN LISTS SORN_LINGUAS)
  list(APPEND SORN_PO_FILES "${SORN_PO_DIR}/${language}.po")
endforeach()

# sorn_translate_file(<desktop|xml> <input> <output>)
# Writes <output>: <input> with the translations of every language merged in, by msgfmt
# --desktop (desktop entries and other key files, such as extension metadata: Name,
# GenericName, Comment, Keywords)
# or --xml (files with ITS rules, such as AppStream metainfo), at build time.
function(sorn_translate_file kind input output)
  if(NOT kind MATCHES "^(desktop|xml)$")
    message(FATAL_ERROR "sorn_translate_file: '${kind}' is neither desktop nor xml")
  endif()
  get_filename_component(name "${output}" NAME)
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${SORN_MSGFMT} --${kind} --template=${input} -d ${SORN_PO_DIR} -o ${output}
    DEPENDS "${input}" ${SORN_PO_FILES} "${SORN_PO_DIR}/LINGUAS"
    COMMENT "Translating ${name}")
  file(RELATIVE_PATH path "${CMAKE_BINARY_DIR}" "${output}")
  string(MAKE_C_IDENTIFIER "sorn_translated_${path}" target)
  add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()
