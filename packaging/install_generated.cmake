# The installed files whose content or form depends on the prefix, written at
# install time after the deliverables are in place. CMAKE_INSTALL_PREFIX is
# the prefix of this install; DESTDIR, when set, is a staging root in front of
# every path written, and never part of a file's content. Every file is
# recorded in the install manifest.
include("${SORVEL_SOURCE_DIR}/cmake/SorvelExecLines.cmake")

if(NOT IS_ABSOLUTE "${CMAKE_INSTALL_PREFIX}")
  message(FATAL_ERROR "The install prefix must be an absolute path: ${CMAKE_INSTALL_PREFIX}")
endif()
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(program_dir "${CMAKE_INSTALL_PREFIX}/bin")
# One staging folder per destination, so that two installs at once never
# hand each other their files.
string(MD5 staging_tag "${root}")
set(staging "${SORVEL_STAGING_DIR}/${staging_tag}")

# <prefix>/bin/<program> -> ../lib/sorvel/<program>
foreach(program IN LISTS SORVEL_LINKED_PROGRAMS)
  set(link "${root}/bin/${program}")
  message(STATUS "Installing: ${link} -> ${SORVEL_PROGRAM_LINK_TARGET}/${program}")
  file(MAKE_DIRECTORY "${root}/bin")
  file(REMOVE "${link}")
  file(CREATE_LINK "${SORVEL_PROGRAM_LINK_TARGET}/${program}" "${link}" SYMBOLIC)
  # The manifest names installed files without the staging root, as CMake's own entries do.
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_PREFIX}/bin/${program}")
endforeach()

# Fills `template` (@NAME@ references) and installs the result as
# <prefix>/<destination>/<name>. A macro: file(INSTALL) records the file in
# the manifest list of the calling scope.
macro(sorvel_install_configured template destination name)
  file(READ "${template}" configured_text)
  string(CONFIGURE "${configured_text}" configured_text @ONLY)
  file(WRITE "${staging}/${name}" "${configured_text}")
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${destination}" TYPE FILE FILES "${staging}/${name}")
endmacro()

if(SORVEL_ACTIVATION_TEMPLATE)
  # The bus starts the installed program for an automation client.
  sorvel_bus_exec_argument(SORVEL_PROGRAM "${program_dir}/sorvel")
  sorvel_install_configured("${SORVEL_ACTIVATION_TEMPLATE}" share/dbus-1/services SORVEL.Mastering.service)

  sorvel_desktop_exec_argument(SORVEL_DESKTOP_EXEC "${program_dir}/sorvel")
  sorvel_desktop_string(SORVEL_DESKTOP_TRY_EXEC "${program_dir}/sorvel")
  sorvel_install_configured("${SORVEL_DESKTOP_TEMPLATE}" share/applications sorvel.desktop)
endif()

# The desktop's caches of the prefix: MIME types from their XML files, the
# applications that open each type. A staged install (DESTDIR) leaves them to
# the package's own triggers. Both tools write only below the prefix.
if("$ENV{DESTDIR}" STREQUAL "")
  foreach(step IN ITEMS "update-mime-database;share/mime" "update-desktop-database;share/applications")
    list(GET step 0 tool)
    list(GET step 1 folder)
    find_program(tool_path ${tool})
    if(NOT tool_path)
      message(STATUS "${tool} not found: the cache of ${root}/${folder} is not updated")
    elseif(IS_DIRECTORY "${root}/${folder}")
      message(STATUS "Updating: ${root}/${folder} (${tool})")
      execute_process(COMMAND "${tool_path}" "${root}/${folder}" RESULT_VARIABLE result)
      if(NOT result EQUAL 0)
        message(FATAL_ERROR "${tool} ${root}/${folder} failed: ${result}")
      endif()
    endif()
    unset(tool_path CACHE)
    unset(tool_path)
  endforeach()
endif()
