# Installation and the exported target Varnox::varnox, usable with
# find_package(Varnox CONFIG):
#   include/varnox/        the umbrella header Varnox.h and what it reaches
#   lib/                   the library and its CMake package
#   lib/varnox/orb/        the reference kernel, laid out as KxOrb64 expects:
#                          Kernel/Lib/CkxCompManager{R,D}.dll
#   bin/varnox             the command-line tool, which finds that kernel
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS varnox varnox_framework EXPORT VarnoxTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# Public headers: what <varnox/Varnox.h> reaches, nothing more (the
# process-wide globals, the start-up unit's objects and the message records
# stay private). See cmake/VarnoxInstallHeaders.cmake.
install(CODE "
  set(VARNOX_HEADER_ROOTS \"${PROJECT_SOURCE_DIR};${VARNOX_GENERATED_DIR}\")
  set(VARNOX_HEADER_DEST \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_INCLUDEDIR}/varnox\")")
install(SCRIPT cmake/VarnoxInstallHeaders.cmake)

# The reference kernel, both names.
install(TARGETS varnox_kernel LIBRARY DESTINATION ${VARNOX_INSTALL_ORB_DIR}/Kernel/Lib)
install(FILES $<TARGET_FILE:varnox_kernel> DESTINATION ${VARNOX_INSTALL_ORB_DIR}/Kernel/Lib
        RENAME CkxCompManagerD.dll)

if(TARGET varnox_tool)
  install(TARGETS varnox_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Varnox)
install(EXPORT VarnoxTargets NAMESPACE Varnox:: DESTINATION ${config_dir})
configure_package_config_file(cmake/VarnoxConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VarnoxConfig.cmake INSTALL_DESTINATION ${config_dir}
  PATH_VARS VARNOX_INSTALL_ORB_DIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VarnoxConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VarnoxConfig.cmake ${PROJECT_BINARY_DIR}/VarnoxConfigVersion.cmake
  DESTINATION ${config_dir})
