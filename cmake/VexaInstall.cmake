# Installation: libraries, headers under include/vexa/, the vexa tool and its man
# page, the Qt plug-ins, the CMake package (Vexa::core, Vexa::ui, Vexa::design) and
# the pkg-config files vexa-core.pc and vexa-ui.pc.
include(CMakePackageConfigHelpers)

set(VEXA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Vexa)
set(VEXA_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(_vexa_libs vexa_core_shared)
set(VEXA_PACKAGE_HAS_UI OFF)
if(TARGET vexarun)
  list(APPEND _vexa_libs vexarun vexadsgn)
  set(VEXA_PACKAGE_HAS_UI ON)
endif()
install(TARGETS ${_vexa_libs} EXPORT VexaTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Run-time modules: found beside libvexa_core.
install(TARGETS vexa-twaindsm vexa-avi LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/vexa/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vexa
  FILES_MATCHING PATTERN "*.h")

install(TARGETS vexa RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET vexa-vxvrender)
  install(TARGETS vexa-vxvrender RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/man/vexa.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TARGET vexa_imageformat)
  install(TARGETS vexa_imageformat LIBRARY DESTINATION ${VEXA_INSTALL_QTPLUGINDIR}/imageformats)
endif()
if(TARGET vexa_designer)
  install(TARGETS vexa_designer LIBRARY DESTINATION ${VEXA_INSTALL_QTPLUGINDIR}/designer)
endif()

install(EXPORT VexaTargets NAMESPACE Vexa:: DESTINATION ${VEXA_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VexaConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VexaConfig.cmake INSTALL_DESTINATION ${VEXA_CMAKE_DIR})
# 0.x: a minor version may change the interface.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VexaConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VexaConfig.cmake ${PROJECT_BINARY_DIR}/VexaConfigVersion.cmake
  DESTINATION ${VEXA_CMAKE_DIR})

# The .pc files find the prefix from where they are installed, so that an
# installed tree can be moved.
file(RELATIVE_PATH VEXA_PC_TO_PREFIX /prefix/${VEXA_PC_DIR} /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vexa-core.pc.in ${PROJECT_BINARY_DIR}/vexa-core.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vexa-core.pc DESTINATION ${VEXA_PC_DIR})
if(VEXA_PACKAGE_HAS_UI)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/vexa-ui.pc.in ${PROJECT_BINARY_DIR}/vexa-ui.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/vexa-ui.pc DESTINATION ${VEXA_PC_DIR})
endif()
