# Checks the tables of a built psrl.dll as `objdump -p` prints them:
#   cmake -DDLL=psrl.dll -DOBJDUMP=<mingw objdump> -DFORMAT=pei-i386|pei-x86-64 -P this file
# - the file format (pei-i386: PE32 for i386, the shipping target);
# - exactly one export, GetPSR under that plain name (no underscore, no @size), at
#   ordinal 1;
# - imports from KERNEL32.dll and the C runtime only (msvcrt.dll, or the api-ms-win-crt-*
#   sets of a UCRT toolchain): libgcc, libstdc++ and winpthread are linked in.
cmake_minimum_required(VERSION 3.25)

foreach(variable DLL OBJDUMP FORMAT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "check_dll_tables: ${variable} is not set")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed: ${result}")
endif()

set(failures "")

if(NOT dump MATCHES "file format ${FORMAT}\n")
  string(REGEX MATCH "file format [^\n]*" found "${dump}")
  list(APPEND failures "expected file format ${FORMAT}, found '${found}'")
endif()
if(FORMAT STREQUAL "pei-i386" AND NOT dump MATCHES "Magic[ \t]+010b[ \t]+\\(PE32\\)")
  list(APPEND failures "not a PE32 image (optional header magic 010b)")
endif()

# Exports: one address-table entry whose biased ordinal is 1, one name, and that name.
if(NOT dump MATCHES "Export Address Table[ \t]+0*1\n[ \t]*\\[Name Pointer/Ordinal\\] Table[ \t]+0*1\n")
  list(APPEND failures "expected exactly one exported function with exactly one name")
endif()
if(NOT dump MATCHES "\n[ \t]*\\[ *0\\] \\+base\\[ *1\\] [0-9a-f]+ Export RVA\n")
  list(APPEND failures "the export is not at ordinal 1")
endif()
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]*)\n" names "${dump}")
set(firstName "${CMAKE_MATCH_1}")
if(NOT firstName MATCHES "^[ \t]*\\[ *0\\] GetPSR$")
  string(STRIP "${firstName}" firstName)
  list(APPEND failures "the first exported name is not GetPSR: '${firstName}'")
endif()

# Imports.
string(REGEX MATCHALL "DLL Name: [^\n]*" imports "${dump}")
list(TRANSFORM imports REPLACE "^DLL Name: " "")
set(kernel32 FALSE)
foreach(name IN LISTS imports)
  string(TOLOWER "${name}" lower)
  if(lower STREQUAL "kernel32.dll")
    set(kernel32 TRUE)
  elseif(NOT lower STREQUAL "msvcrt.dll" AND NOT lower MATCHES "^api-ms-win-crt-[a-z0-9-]+\\.dll$")
    list(APPEND failures "imports ${name}")
  endif()
endforeach()
if(NOT kernel32)
  list(APPEND failures "does not import KERNEL32.dll")
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${DLL}:\n  ${text}")
endif()
list(JOIN imports ", " importText)
message(STATUS "${DLL}: ${FORMAT}, exports GetPSR @1, imports ${importText}")
