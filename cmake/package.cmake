# A Debian package of the program: in the build folder, `cpack -G DEB`
# makes kovrel_VERSION_ARCH.deb with the stripped program, the gzipped man
# page, the copyright file (package/copyright with the notices of the
# libraries linked in), a changelog and lintian's overrides for the static
# link (package/lintian-overrides says why).
# Who the package names as its maintainer (Debian's Maintainer field and the
# changelog's signature); give your own when you publish it.
set(KOVREL_PACKAGE_MAINTAINER "Kovrel developers <kovrel-developers@example.org>" CACHE STRING
    "The Debian package's maintainer, Name <address>")
string(TIMESTAMP KOVREL_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(KOVREL_DOC_FOLDER ${CMAKE_INSTALL_DATADIR}/doc/kovrel)
set(KOVREL_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package)
file(MAKE_DIRECTORY ${KOVREL_PACKAGE_FILES})

# The copyright file: Kovrel's own words, then each library's Debian notice
# when this system has it.
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/package/copyright KOVREL_COPYRIGHT)
foreach(notice IN ITEMS libpng16-16 libjpeg62-turbo zlib1g libgif7 libwebp7 libwebpdemux2 libstb0)
  if(EXISTS /usr/share/doc/${notice}/copyright)
    file(READ /usr/share/doc/${notice}/copyright text)
    string(APPEND KOVREL_COPYRIGHT "\n\n==== ${notice} (Debian's copyright file)\n\n${text}")
  endif()
endforeach()
file(WRITE ${KOVREL_PACKAGE_FILES}/copyright "${KOVREL_COPYRIGHT}")
configure_file(package/changelog.in ${KOVREL_PACKAGE_FILES}/changelog @ONLY)

# gzip -n: no name or time stamp, so the same sources give the same bytes.
find_program(KOVREL_GZIP gzip)
if(KOVREL_GZIP)
  add_custom_command(OUTPUT ${KOVREL_PACKAGE_FILES}/kovrel.1.gz ${KOVREL_PACKAGE_FILES}/changelog.gz
    COMMAND ${KOVREL_GZIP} -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/doc/kovrel.1 > ${KOVREL_PACKAGE_FILES}/kovrel.1.gz
    COMMAND ${KOVREL_GZIP} -9n -c ${KOVREL_PACKAGE_FILES}/changelog > ${KOVREL_PACKAGE_FILES}/changelog.gz
    DEPENDS doc/kovrel.1 ${KOVREL_PACKAGE_FILES}/changelog
    VERBATIM)
  add_custom_target(kovrel_package_files ALL DEPENDS ${KOVREL_PACKAGE_FILES}/kovrel.1.gz
                                                     ${KOVREL_PACKAGE_FILES}/changelog.gz)
  install(FILES ${KOVREL_PACKAGE_FILES}/changelog.gz DESTINATION ${KOVREL_DOC_FOLDER} COMPONENT package EXCLUDE_FROM_ALL)
  install(FILES ${KOVREL_PACKAGE_FILES}/kovrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT package EXCLUDE_FROM_ALL)
endif()
install(FILES ${KOVREL_PACKAGE_FILES}/copyright DESTINATION ${KOVREL_DOC_FOLDER} COMPONENT package EXCLUDE_FROM_ALL)
install(FILES package/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME kovrel COMPONENT package EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME kovrel)
set(CPACK_PACKAGE_VENDOR "Kovrel developers")
set(CPACK_PACKAGE_CONTACT "${KOVREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "picture to TMS9918 screen 2 converter")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kovrel converts PNG, JPEG, GIF, BMP, WebP and TGA pictures into the\npattern and colour tables of the TMS9918 Graphics II mode (screen 2),\nfor MSX, ColecoVision, SG-1000 and TI-99/4A graphics and games, with a\npreview picture.")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)  # the program is linked statically
set(CPACK_DEB_COMPONENT_INSTALL OFF)
# The program and the package's own files, which a plain `cmake --install`
# leaves out (EXCLUDE_FROM_ALL); the plain man page (component manual) is
# for `cmake --install`, the package ships the gzipped one.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};kovrel;Unspecified;/;${CMAKE_BINARY_DIR};kovrel;package;/")
include(CPack)
