# The installed layout, along the GNU install directories:
#   bin/                      programs
#   lib/vistrel/              run-time modules, resource scripts and translations
#   share/vistrel/            data files (help, pictures) and device definitions
#   share/man/man1, man8      manual pages made from the programs' --help texts
#   lib/systemd/user          user units; share/applications, share/icons/hicolor: menus
# Programs find the module and data folders relative to their own folder, so a moved
# installation keeps working; the build tree keeps everything beside the programs.
# The package's documentation folder is named after the package, not the CMake project.
# (GNUInstallDirs would name it after the project: share/doc/Vistrel.)
if(NOT CMAKE_INSTALL_DOCDIR OR CMAKE_INSTALL_DOCDIR STREQUAL "share/doc/${PROJECT_NAME}")
  set(CMAKE_INSTALL_DOCDIR "share/doc/vistrel" CACHE PATH "Documentation (DATAROOTDIR/doc/vistrel)" FORCE)
endif()
include(GNUInstallDirs)
set(VISTREL_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})

set(VISTREL_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/vistrel)
set(VISTREL_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/vistrel)
# systemd reads units below <prefix>/lib whatever the library folder is (no multiarch).
set(VISTREL_INSTALL_USERUNITDIR lib/systemd/user)
set(VISTREL_INSTALL_FULL_MODULEDIR ${CMAKE_INSTALL_FULL_LIBDIR}/vistrel)
set(VISTREL_INSTALL_FULL_DATADIR ${CMAKE_INSTALL_FULL_DATADIR}/vistrel)

# A folder of the layout as seen from the programs' folder (relative when both are).
function(vistrel_path_from_programs out folder)
  if(IS_ABSOLUTE "${folder}" OR IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
    cmake_path(ABSOLUTE_PATH folder BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" OUTPUT_VARIABLE full)
    set(${out} "${full}" PARENT_SCOPE)
  else()
    file(RELATIVE_PATH rel "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${folder}")
    set(${out} "${rel}" PARENT_SCOPE)
  endif()
endfunction()
vistrel_path_from_programs(VISTREL_MODULES_FROM_PROGRAMS "${VISTREL_INSTALL_MODULEDIR}")
vistrel_path_from_programs(VISTREL_DATA_FROM_PROGRAMS "${VISTREL_INSTALL_DATADIR}")

# The version every program reports (vistrel_version.h, vistrel::printVersionIfAsked).
configure_file(${CMAKE_CURRENT_LIST_DIR}/vistrel_version.h.in
               ${CMAKE_BINARY_DIR}/generated/vistrel_version.h @ONLY)
add_library(vistrel_version INTERFACE)
target_include_directories(vistrel_version INTERFACE ${CMAKE_BINARY_DIR}/generated)

# vistrel_install_program(target "one-line summary"): a program into bin/, with its manual
# page made at build time from its own --help text (cmake/make_man_page.cmake), so the two
# never disagree. Making the page also checks that the program answers --help and
# --version. A cross build without an emulator to run the program installs no page.
function(vistrel_install_program target summary)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    return()
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/man1/${target}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} "-DPROGRAM=$<TARGET_FILE:${target}>"
            "-DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}" -DNAME=${target} -DSECTION=1
            "-DSUMMARY=${summary}" -DVERSION=${PROJECT_VERSION} -DOUT=${page}
            -P ${VISTREL_CMAKE_DIR}/make_man_page.cmake
    DEPENDS ${target} ${VISTREL_CMAKE_DIR}/make_man_page.cmake
    COMMENT "Manual page of ${target}" VERBATIM)
  add_custom_target(man_${target} ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# vistrel_install_modules(target...): run-time modules into the module folder.
function(vistrel_install_modules)
  install(TARGETS ${ARGN} LIBRARY DESTINATION ${VISTREL_INSTALL_MODULEDIR}
                          RUNTIME DESTINATION ${VISTREL_INSTALL_MODULEDIR})
endfunction()

# vistrel_install_configured(TEMPLATE file.in NAME out DESTINATION dir): a unit or
# configuration file whose @CMAKE_INSTALL_FULL_...@ paths are filled in when installing,
# from the prefix actually installed to (cmake --install --prefix, cpack), never from a
# fixed one. The build tree keeps a copy made for the configured prefix.
function(vistrel_install_configured)
  cmake_parse_arguments(C "" "TEMPLATE;NAME;DESTINATION" "" ${ARGN})
  cmake_path(ABSOLUTE_PATH C_TEMPLATE BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}")
  configure_file(${C_TEMPLATE} ${CMAKE_CURRENT_BINARY_DIR}/${C_NAME} @ONLY)
  set(staged ${CMAKE_CURRENT_BINARY_DIR}/install-time/${C_NAME})
  install(CODE "
    set(CMAKE_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(CMAKE_INSTALL_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
    set(CMAKE_INSTALL_DOCDIR \"${CMAKE_INSTALL_DOCDIR}\")
    foreach(d BINDIR LIBDIR DATADIR DOCDIR)
      cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_\${d} BASE_DIRECTORY \"\${CMAKE_INSTALL_PREFIX}\"
                 NORMALIZE OUTPUT_VARIABLE CMAKE_INSTALL_FULL_\${d})
    endforeach()
    set(VISTREL_INSTALL_FULL_MODULEDIR \"\${CMAKE_INSTALL_FULL_LIBDIR}/vistrel\")
    set(VISTREL_INSTALL_FULL_DATADIR \"\${CMAKE_INSTALL_FULL_DATADIR}/vistrel\")
    configure_file(\"${C_TEMPLATE}\" \"${staged}\" @ONLY)
  ")
  install(FILES ${staged} DESTINATION ${C_DESTINATION})
endfunction()
