# What `cmake --install` puts in place: the header, the library, zkmint, a CMake package
# (find_package(zk_mint) -> zk_mint::zk_mint) and zk_mint.pc. The stand-in toolkits are test and
# demo doubles and are not part of it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

target_include_directories(zk_mint INTERFACE $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                                             $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS zk_mint EXPORT zk_mintTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/zk_mint.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET zkmint)
  install(TARGETS zkmint RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(ZK_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zk_mint)
install(EXPORT zk_mintTargets NAMESPACE zk_mint:: DESTINATION ${ZK_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/package/zk_mintConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/package/zk_mintConfig.cmake INSTALL_DESTINATION ${ZK_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/zk_mintConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/zk_mintConfig.cmake ${PROJECT_BINARY_DIR}/package/zk_mintConfigVersion.cmake
        DESTINATION ${ZK_PACKAGE_DIR})
file(RELATIVE_PATH ZK_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/zk_mint.pc.in ${PROJECT_BINARY_DIR}/package/zk_mint.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/zk_mint.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
