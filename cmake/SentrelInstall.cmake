# What `cmake --install` puts where, for embedders and packagers:
#   include/sentrel/*.h                    the public headers
#   LIBDIR/libsentrel.so.N, libsentrel.a   the shared library and the static archive
#   LIBDIR/pkgconfig/sentrel.pc            for pkg-config
#   LIBDIR/cmake/Sentrel/                  find_package(Sentrel): Sentrel::sentrel
#                                          (shared) and Sentrel::sentrel_static
# The command, its resources, man page and completions are installed by
# their own folders' lists.
include(CMakePackageConfigHelpers)

set(SENTREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Sentrel)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/sentrel
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev
  FILES_MATCHING PATTERN "*.h")

set(installed_libraries sentrel)
if(TARGET sentrel_shared)
  list(APPEND installed_libraries sentrel_shared)
endif()
install(TARGETS ${installed_libraries} EXPORT SentrelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(EXPORT SentrelTargets NAMESPACE Sentrel::
  DESTINATION ${SENTREL_CMAKE_DIR} COMPONENT dev)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/SentrelConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/SentrelConfig.cmake
  INSTALL_DESTINATION ${SENTREL_CMAKE_DIR})
# The major version follows the ABI: a new SONAME comes with a new major version.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/SentrelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/SentrelConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/SentrelConfigVersion.cmake
  DESTINATION ${SENTREL_CMAKE_DIR} COMPONENT dev)

# pkg-config, with the absolute paths of the install (pkg-config leaves out
# -I/usr/include only when it is written so).
configure_file(${CMAKE_CURRENT_LIST_DIR}/sentrel.pc.in ${CMAKE_CURRENT_BINARY_DIR}/sentrel.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/sentrel.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
