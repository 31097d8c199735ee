# What every Debian package of the project carries beside its files: the
# copyright file, a compressed changelog.Debian and compressed manual pages.
# gzip -n keeps no time stamp, so the packages build the same each time.
find_program(KIVO_GZIP gzip REQUIRED)

# kivo_debian_docs(COMPONENT PACKAGE): /usr/share/doc/PACKAGE/{copyright,changelog.Debian.gz},
# and lintian's override of the one tag that does not fit a package made
# outside Debian: its first changelog entry closes no "intent to package" bug.
function(kivo_debian_docs component package)
  set(KIVO_DEB_PACKAGE ${package})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/doc-${package})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${dir}/changelog.Debian @ONLY)
  add_custom_command(OUTPUT ${dir}/changelog.Debian.gz
    COMMAND ${KIVO_GZIP} -9nkf ${dir}/changelog.Debian
    DEPENDS ${dir}/changelog.Debian)
  add_custom_target(kivo_docs_${component} ALL DEPENDS ${dir}/changelog.Debian.gz)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${dir}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  file(WRITE ${dir}/lintian-overrides "${package}: initial-upload-closes-no-bugs\n")
  install(FILES ${dir}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME ${package} COMPONENT ${component})
endfunction()

# kivo_install_manpage(COMPONENT SOURCE): SOURCE (a roff page NAME.SECTION) into man/manSECTION, compressed.
function(kivo_install_manpage component source)
  get_filename_component(name ${source} NAME)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${name})
  set(out ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND ${KIVO_GZIP} -9nc ${source} > ${out}
    DEPENDS ${source})
  add_custom_target(kivo_man_${name} ALL DEPENDS ${out})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()
