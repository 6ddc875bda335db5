# The Windows build's resources: the SVG images drawn as PNG (at 1x and 2x, which Qt picks by
# the screen's scale), the help pages, Qt's Japanese translation (there is no system copy to
# load it from), and the program's icon for Explorer.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(MAGICK_CONVERT convert REQUIRED)
set(PENRIKA_QT_JA /usr/share/qt6/translations/qtbase_ja.qm CACHE FILEPATH
  "Qt's Japanese translation, built into the program")
if(NOT EXISTS ${PENRIKA_QT_JA})
  message(FATAL_ERROR "Qt's Japanese translation is missing (Debian: qt6-translations-l10n)")
endif()

set(res ${CMAKE_BINARY_DIR}/resources)
set(qrc_files "")
set(images "")
foreach(name write grid option help min exit penrika)
  # Toolbar images are 16 px; the program's icon is drawn at 32 in the version window.
  set(base 16)
  if(name STREQUAL "penrika")
    set(base 32)
  endif()
  foreach(scale 1 2)
    math(EXPR px "${base} * ${scale}")
    set(suffix "")
    if(scale EQUAL 2)
      set(suffix "@2x")
    endif()
    set(png ${res}/icons/${name}${suffix}.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${res}/icons
      COMMAND ${RSVG_CONVERT} -w ${px} -h ${px} -o ${png}
        ${CMAKE_SOURCE_DIR}/resources/icons/${name}.svg
      DEPENDS ${CMAKE_SOURCE_DIR}/resources/icons/${name}.svg VERBATIM)
    list(APPEND images ${png})
    string(APPEND qrc_files "    <file>icons/${name}${suffix}.png</file>\n")
  endforeach()
endforeach()
foreach(png penrika16.png penrika32.png)
  string(APPEND qrc_files
    "    <file alias=\"icons/${png}\">${CMAKE_SOURCE_DIR}/resources/icons/${png}</file>\n")
endforeach()
file(GLOB help_pages RELATIVE ${CMAKE_SOURCE_DIR}/resources CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/resources/help/*.html)
# The help names the places Windows keeps things in.
foreach(page ${help_pages})
  set(src ${CMAKE_SOURCE_DIR}/resources/${page})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${src})
  file(READ ${src} html)
  string(REPLACE "<tt>~/.local/share/Penrika/</tt>" "<tt>%APPDATA%\\Penrika\\</tt>" html "${html}")
  string(REPLACE "<tt>~/.config/Tamsel/Penrika.ini</tt> の [Option] に"
    "レジストリーの <tt>HKEY_CURRENT_USER\\Software\\Tamsel\\Penrika\\Option</tt> に" html "${html}")
  string(REPLACE "<tt>~/.config/Tamsel/Penrika.ini</tt>"
    "レジストリーの <tt>HKEY_CURRENT_USER\\Software\\Tamsel\\Penrika</tt>" html "${html}")
  file(WRITE ${res}/${page}.tmp "${html}")
  configure_file(${res}/${page}.tmp ${res}/${page} COPYONLY)
  string(APPEND qrc_files "    <file>${page}</file>\n")
endforeach()
string(APPEND qrc_files "    <file alias=\"translations/qtbase_ja.qm\">${PENRIKA_QT_JA}</file>\n")
# Named as on Linux, so that the same initialisation registers it.
file(WRITE ${res}/penrika.qrc.in
  "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n  <qresource prefix=\"/\">\n${qrc_files}  </qresource>\n</RCC>\n")
configure_file(${res}/penrika.qrc.in ${res}/penrika.qrc COPYONLY)
set_source_files_properties(${res}/penrika.qrc PROPERTIES OBJECT_DEPENDS "${images}")
set(PENRIKA_QRC ${res}/penrika.qrc)

# The icon Explorer and the taskbar show, in the sizes they ask for.
set(ico ${res}/penrika.ico)
set(ico_pngs "")
foreach(px 16 24 32 48 256)
  set(png ${res}/ico/penrika-${px}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${res}/ico
    COMMAND ${RSVG_CONVERT} -w ${px} -h ${px} -o ${png}
      ${CMAKE_SOURCE_DIR}/resources/icons/penrika.svg
    DEPENDS ${CMAKE_SOURCE_DIR}/resources/icons/penrika.svg VERBATIM)
  list(APPEND ico_pngs ${png})
endforeach()
add_custom_command(OUTPUT ${ico} COMMAND ${MAGICK_CONVERT} ${ico_pngs} ${ico}
  DEPENDS ${ico_pngs} VERBATIM)
file(WRITE ${res}/penrika.rc "1 ICON \"${ico}\"\n")
set_source_files_properties(${res}/penrika.rc PROPERTIES OBJECT_DEPENDS ${ico})
enable_language(RC)
set(PENRIKA_EXE_RESOURCES ${res}/penrika.rc)
