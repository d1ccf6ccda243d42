# Installation and the exported target Varnox::varnox, usable with
# find_package(Varnox CONFIG).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS varnox EXPORT VarnoxTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The public headers keep their folders below include/varnox; the umbrella
# header is reachable as <varnox/Varnox.h>.
foreach(dir contracts NetInterface templates access files viewmodels framework)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${dir})
    install(DIRECTORY ${dir} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/varnox
            FILES_MATCHING PATTERN "*.h")
  endif()
endforeach()
# The generated headers join their hand-written neighbours in templates/.
install(DIRECTORY ${VARNOX_GENERATED_DIR}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/varnox
        FILES_MATCHING PATTERN "*.h")
install(FILES varnox/Varnox.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/varnox)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Varnox)
install(EXPORT VarnoxTargets NAMESPACE Varnox:: DESTINATION ${config_dir})
configure_package_config_file(cmake/VarnoxConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VarnoxConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VarnoxConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VarnoxConfig.cmake ${PROJECT_BINARY_DIR}/VarnoxConfigVersion.cmake
  DESTINATION ${config_dir})
