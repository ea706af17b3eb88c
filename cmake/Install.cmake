# cmake --install: the library, CHIDDevice's header, portula.jar, the udev rule
# template and a CMake package (find_package(portula) -> portula::portula).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(PORTULA_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/portula")

target_include_directories(portula INTERFACE
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/portula>")
install(TARGETS portula EXPORT portulaTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")
if(NOT PORTULA_SANITIZE)
  install(FILES "$<TARGET_FILE:portula>.debug" DESTINATION "${CMAKE_INSTALL_LIBDIR}")
endif()
install(FILES "${CMAKE_SOURCE_DIR}/device/CHIDDevice.h"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/portula")
install(EXPORT portulaTargets NAMESPACE portula:: DESTINATION "${PORTULA_CMAKE_DIR}")

configure_package_config_file("${CMAKE_SOURCE_DIR}/cmake/portulaConfig.cmake.in"
  "${CMAKE_BINARY_DIR}/cmake/portulaConfig.cmake"
  INSTALL_DESTINATION "${PORTULA_CMAKE_DIR}")
# the version file also refuses a consumer of the other word size
write_basic_package_version_file("${CMAKE_BINARY_DIR}/cmake/portulaConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/cmake/portulaConfig.cmake"
              "${CMAKE_BINARY_DIR}/cmake/portulaConfigVersion.cmake"
  DESTINATION "${PORTULA_CMAKE_DIR}")

# The dual jar when the dist step made it, else this build's own.
install(FILES "${CMAKE_BINARY_DIR}/portula.jar" "${CMAKE_BINARY_DIR}/portula-javadoc.jar"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/java")
install(FILES "${CMAKE_BINARY_DIR}/dist/portula.jar" OPTIONAL
  DESTINATION "${CMAKE_INSTALL_DATADIR}/java")
install(FILES "${CMAKE_SOURCE_DIR}/packaging/udev/70-portula.rules.in"
  DESTINATION "${CMAKE_INSTALL_DATADIR}/portula")
