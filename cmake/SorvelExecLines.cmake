# Program paths in the Exec lines of the files the suite writes for the
# desktop: the bus activation files and the desktop entry. A path with a
# space or another character such a line treats specially is quoted the way
# the line's reader expects. Used at configure time and by the install
# script (cmake -P mode).

# Refuses a path that cannot stand on one line of such a file.
function(sorvel_check_exec_path path)
  foreach(character "\n" "\r" "\t")
    string(FIND "${path}" "${character}" position)
    if(NOT position EQUAL -1)
      message(FATAL_ERROR "A program path with a line break or tab cannot be written into an Exec line: ${path}")
    endif()
  endforeach()
endfunction()

# For a bus activation file: the bus splits Exec like a shell (without any
# expansion) and refuses a file with a backslash in it, so a path with a
# character outside the plain set goes in double quotes, and one that holds
# '"' or '\' cannot be written.
function(sorvel_bus_exec_argument out path)
  sorvel_check_exec_path("${path}")
  if(path MATCHES "^[A-Za-z0-9_./+,:@=-]+$")
    set(${out} "${path}" PARENT_SCOPE)
  elseif(path MATCHES "[\\\"]")
    message(FATAL_ERROR "A program path with '\"' or '\\' cannot be written into a bus activation file: ${path}")
  else()
    set(${out} "\"${path}\"" PARENT_SCOPE)
  endif()
endfunction()

# For the Exec key of a desktop entry: an argument with a reserved character
# goes in double quotes, with '"', '`', '$' and '\' escaped by a backslash;
# the value then takes the escapes of a string value (every '\' doubled) and
# a literal '%' is written '%%'.
function(sorvel_desktop_exec_argument out path)
  sorvel_check_exec_path("${path}")
  set(value "${path}")
  if(NOT value MATCHES "^[A-Za-z0-9_./+,:@=%-]+$")
    string(REPLACE "\\" "\\\\" value "${value}")
    string(REPLACE "\"" "\\\"" value "${value}")
    string(REPLACE "`" "\\`" value "${value}")
    string(REPLACE "$" "\\$" value "${value}")
    set(value "\"${value}\"")
  endif()
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "%" "%%" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# For a string key of a desktop entry (TryExec): '\' doubled.
function(sorvel_desktop_string out text)
  sorvel_check_exec_path("${text}")
  string(REPLACE "\\" "\\\\" value "${text}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()
