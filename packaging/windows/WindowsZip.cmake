# tandra-cli-<version>-windows-x64.zip: the statically linked tandra-cli.exe, its manual as text,
# the README's Windows section, and the licences of what is linked into it. Run by the target
# windows-zip of a Windows build:
#   cmake -DPROGRAM=.../tandra-cli.exe -DSTRIP=... -DGROFF=... -DSOURCE_DIR=... -DOUTPUT_DIR=...
#         -DVERSION=1.3.0 -P WindowsZip.cmake
cmake_minimum_required(VERSION 3.25)

set(name tandra-cli-${VERSION}-windows-x64)
set(stage ${OUTPUT_DIR}/${name})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage}/licenses)

# Text as Windows' editors want it: CR LF line ends.
function(write_windows_text path text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${path} "${text}")
endfunction()

# The program, without its debug symbols.
file(COPY_FILE ${PROGRAM} ${stage}/tandra-cli.exe)
if(STRIP)
  execute_process(COMMAND ${STRIP} --strip-all ${stage}/tandra-cli.exe RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "tandra-cli.exe could not be stripped")
  endif()
endif()

# The manual page as plain text: no overstrikes or colours for bold and underlined words.
if(NOT GROFF)
  message(FATAL_ERROR "groff (Debian's groff-base) is needed for the manual as text")
endif()
execute_process(COMMAND ${GROFF} -man -Tascii -P-bcu -rLL=78n ${SOURCE_DIR}/doc/tandra-cli.1
                OUTPUT_VARIABLE manual RESULT_VARIABLE failed ERROR_QUIET)
if(failed OR manual STREQUAL "")
  message(FATAL_ERROR "the manual page could not be made into text")
endif()
write_windows_text(${stage}/tandra-cli.txt "${manual}")

# The README's Windows section, from its heading to the next one of its level.
file(READ ${SOURCE_DIR}/README.md readme)
string(FIND "${readme}" "\n## Windows\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "README.md has no section \"## Windows\"")
endif()
math(EXPR start "${start} + 1")
string(SUBSTRING "${readme}" ${start} -1 section)
string(FIND "${section}" "\n## " end)
if(NOT end EQUAL -1)
  string(SUBSTRING "${section}" 0 ${end} section)
endif()
write_windows_text(${stage}/README-Windows.txt "${section}\n")

# The schemas of the JSON record and of the production log.
file(COPY ${SOURCE_DIR}/doc/tandra-cli-record.schema.json ${SOURCE_DIR}/doc/tandra-log.schema.json
     DESTINATION ${stage})

# What is linked in, each with the licence it comes under, as Debian ships their terms.
set(licences
    "CLI11 (the command line's parser)|/usr/share/doc/libcli11-dev/copyright|CLI11.txt"
    "JSON for Modern C++ (the record and the log)|/usr/share/doc/nlohmann-json3-dev/copyright|nlohmann-json.txt"
    "zlib (the CRC-32 of images)|/usr/share/doc/libz-mingw-w64-dev/copyright|zlib.txt"
    "the MinGW-w64 runtime and winpthreads|/usr/share/doc/mingw-w64-common/copyright|mingw-w64-runtime.txt"
    "the GCC runtime: libgcc and libstdc++ (GPL 3 with the GCC Runtime Library Exception)|/usr/share/doc/gcc-mingw-w64-base/copyright|gcc-runtime.txt")
set(notes "tandra-cli.exe ${VERSION} for 64-bit Windows\n\n")
string(APPEND notes "Tandra USB itself: see licenses/tandra-usb.txt.\n\n")
string(APPEND notes "Linked into tandra-cli.exe, each under the terms in the file named:\n")
file(READ ${SOURCE_DIR}/packaging/copyright own)
write_windows_text(${stage}/licenses/tandra-usb.txt "${own}")
foreach(entry IN LISTS licences)
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 what)
  list(GET parts 1 from)
  list(GET parts 2 to)
  if(NOT EXISTS ${from})
    message(FATAL_ERROR "the licence of ${what} is not in ${from}")
  endif()
  file(READ ${from} terms)
  write_windows_text(${stage}/licenses/${to} "${terms}")
  string(APPEND notes "  ${what}: licenses/${to}\n")
endforeach()
write_windows_text(${stage}/LICENSES.txt "${notes}")

file(REMOVE ${OUTPUT_DIR}/${name}.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUTPUT_DIR}/${name}.zip --format=zip ${name}
                WORKING_DIRECTORY ${OUTPUT_DIR} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "the zip could not be made")
endif()
message(STATUS "made ${OUTPUT_DIR}/${name}.zip")
