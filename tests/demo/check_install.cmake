# SPDX-FileCopyrightText: 2026 Vindriks Chatt maintainers
# SPDX-License-Identifier: MIT

# Installs the build twice and checks what a user's desktop would find:
#  - staged under DESTDIR for the prefix /usr, as a package build does;
#  - straight into a prefix whose path has a space in it.
# Expects BUILD_DIR, WORK_DIR, PROGRAM_DIR, BINDIR, DATADIR, MANDIR,
# SOUND_FILE, LICENSE, APPSTREAM_ID and (may be empty) DESKTOP_VALIDATE and
# APPSTREAM_VALIDATE.

function(fail message)
  message(FATAL_ERROR "${message}")
endfunction()

function(install_into prefix destdir)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${destdir}
            ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    fail("cmake --install --prefix '${prefix}' failed:\n${output}")
  endif()
endfunction()

# root: where the files are on disk; prefix: where they will be run from.
function(check_layout root prefix)
  set(folder "${root}/${PROGRAM_DIR}")
  set(program "${folder}/Project1")
  if(NOT EXISTS "${program}")
    fail("no program at ${program}")
  endif()
  execute_process(COMMAND test -x "${program}" RESULT_VARIABLE not_executable)
  if(not_executable)
    fail("${program} is not executable")
  endif()

  # The program plays Hej.WAV from its own folder: it must be right there.
  if(NOT EXISTS "${folder}/Hej.WAV")
    fail("Hej.WAV is not beside the program in ${folder}")
  endif()
  file(SHA256 "${folder}/Hej.WAV" installed_sound)
  file(SHA256 "${SOUND_FILE}" built_sound)
  if(NOT installed_sound STREQUAL built_sound)
    fail("the installed Hej.WAV differs from the one built")
  endif()

  set(launcher "${root}/${BINDIR}/vindrik-chatt")
  if(NOT IS_SYMLINK "${launcher}")
    fail("no launcher link at ${launcher}")
  endif()
  file(REAL_PATH "${launcher}" launched)
  file(REAL_PATH "${program}" real_program)
  if(NOT launched STREQUAL real_program)
    fail("the launcher leads to '${launched}', not to the program '${real_program}'")
  endif()

  set(icon "${root}/${DATADIR}/icons/hicolor/scalable/apps/vindrik-chatt.svg")
  if(NOT EXISTS "${icon}")
    fail("no icon at ${icon}")
  endif()
  file(READ "${icon}" svg)
  if(NOT svg MATCHES "<svg[^>]*xmlns=\"http://www.w3.org/2000/svg\"" OR NOT svg MATCHES "</svg>[ \n]*$")
    fail("the icon is not a complete SVG document")
  endif()

  set(entry "${root}/${DATADIR}/applications/vindrik-chatt.desktop")
  if(NOT EXISTS "${entry}")
    fail("no menu entry at ${entry}")
  endif()
  file(READ "${entry}" content)
  set(content "\n${content}")
  set(exec_expected "${prefix}/${PROGRAM_DIR}/Project1")
  if(exec_expected MATCHES " ")
    set(exec_expected "\"${exec_expected}\"")
  endif()
  # Whole lines: a key in another group or with a longer value does not count.
  foreach(wanted
      "[Desktop Entry]" "Type=Application" "Name=Vindriks Chatt sökning"
      "Exec=${exec_expected}" "Icon=vindrik-chatt" "Categories=Network;Chat;")
    string(FIND "${content}" "\n${wanted}\n" at)
    if(at EQUAL -1)
      fail("the menu entry lacks the line '${wanted}':${content}")
    endif()
  endforeach()
  if(DESKTOP_VALIDATE)
    execute_process(COMMAND ${DESKTOP_VALIDATE} "${entry}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0 OR NOT output STREQUAL "")
      fail("desktop-file-validate objects to ${entry}:\n${output}")
    endif()
  endif()

  # Software centres find the metadata by its id and launch the menu entry it
  # names.
  set(metainfo "${root}/${DATADIR}/metainfo/${APPSTREAM_ID}.metainfo.xml")
  if(NOT EXISTS "${metainfo}")
    fail("no AppStream metadata at ${metainfo}")
  endif()
  file(READ "${metainfo}" content)
  string(FIND "${content}" "<id>${APPSTREAM_ID}</id>" id_at)
  string(FIND "${content}" "<launchable type=\"desktop-id\">vindrik-chatt.desktop</launchable>" launch_at)
  string(FIND "${content}" "<name xml:lang=\"sv\">Vindriks Chatt sökning</name>" name_at)
  if(id_at EQUAL -1 OR launch_at EQUAL -1 OR name_at EQUAL -1)
    fail("the AppStream metadata lacks its id, the menu entry it launches or its Swedish name:\n${content}")
  endif()
  if(APPSTREAM_VALIDATE)
    execute_process(COMMAND ${APPSTREAM_VALIDATE} validate --no-net "${metainfo}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
      fail("appstreamcli rejects ${metainfo}:\n${output}")
    endif()
  endif()

  # Debian keeps the manual page and the changelog compressed.
  foreach(gzipped "${MANDIR}/man1/vindrik-chatt.1.gz" "${DATADIR}/doc/vindrik-chatt/changelog.Debian.gz")
    if(NOT EXISTS "${root}/${gzipped}")
      fail("no ${gzipped} in ${root}")
    endif()
    file(READ "${root}/${gzipped}" magic LIMIT 2 HEX)
    if(NOT magic STREQUAL "1f8b")
      fail("${gzipped} is not gzip-compressed")
    endif()
  endforeach()

  # The copyright file carries the licence word for word, in Debian's
  # continuation-line form.
  set(copyright "${root}/${DATADIR}/doc/vindrik-chatt/copyright")
  if(NOT EXISTS "${copyright}")
    fail("no copyright file at ${copyright}")
  endif()
  file(READ "${copyright}" content)
  if(NOT content MATCHES "\nLicense: MIT\n( (\\.|[^ \n][^\n]*)\n)+$")
    fail("the copyright file does not end in the MIT licence text:\n${content}")
  endif()
  string(REGEX REPLACE ".*\nLicense: MIT\n" "" text "${content}")
  string(REGEX REPLACE "(^|\n) \\.\n" "\\1\n" text "${text}")
  string(REGEX REPLACE "(^|\n) " "\\1" text "${text}")
  file(READ "${LICENSE}" licence)
  string(FIND "${licence}" "${text}" at)
  if(at EQUAL -1 OR NOT text MATCHES "SOFTWARE\\.\n$")
    fail("the licence in the copyright file differs from LICENSE:\n${text}")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")

set(stage "${WORK_DIR}/stage")
install_into(/usr "${stage}")
check_layout("${stage}/usr" /usr)

set(spaced "${WORK_DIR}/my programs")
install_into("${spaced}" "")
check_layout("${spaced}" "${spaced}")

file(REMOVE_RECURSE "${WORK_DIR}")
