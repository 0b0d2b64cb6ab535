# The application icon: packaging/ondrel.svg, rendered to PNGs at build time
# (the desktop's icon theme sizes, and the window icon built into the wizard).
find_program(ONDREL_RSVG rsvg-convert)
set(ONDREL_ICON_SVG ${CMAKE_SOURCE_DIR}/packaging/ondrel.svg)
set(ONDREL_ICON_DIR ${CMAKE_BINARY_DIR}/icons)
set(ONDREL_ICON_SIZES 16 24 32 48 64 128 256)
set(ONDREL_ICON_PNGS "")
set(ONDREL_ICON_PNG "")
if(ONDREL_RSVG AND EXISTS ${ONDREL_ICON_SVG})
  foreach(size ${ONDREL_ICON_SIZES})
    set(png ${ONDREL_ICON_DIR}/${size}x${size}/ondrel.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${ONDREL_ICON_DIR}/${size}x${size}
      COMMAND ${ONDREL_RSVG} -w ${size} -h ${size} -o ${png} ${ONDREL_ICON_SVG}
      DEPENDS ${ONDREL_ICON_SVG}
      VERBATIM)
    list(APPEND ONDREL_ICON_PNGS ${png})
  endforeach()
  set(ONDREL_ICON_PNG ${ONDREL_ICON_DIR}/256x256/ondrel.png)
  add_custom_target(icons ALL DEPENDS ${ONDREL_ICON_PNGS})
else()
  message(STATUS "rsvg-convert (librsvg2-bin) not found: no PNG icons are rendered")
endif()
