# The installed package. Every shared library of the project that a host may
# link joins the export set ostrelTargets in its own folder:
#
#   install(TARGETS <lib> EXPORT ostrelTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
#
# and becomes the imported target ostrel::<lib> of find_package(ostrel).
include(CMakePackageConfigHelpers)

set(ORVALE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ostrel)
install(EXPORT ostrelTargets NAMESPACE ostrel:: DESTINATION ${ORVALE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ostrelConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/ostrelConfig.cmake
                              INSTALL_DESTINATION ${ORVALE_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ostrelConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ostrelConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/ostrelConfigVersion.cmake
        DESTINATION ${ORVALE_PACKAGE_DIR})
