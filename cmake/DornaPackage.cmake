# The installed package: Dorna::dorna (every module), the CMake package files
# (DornaConfig.cmake, DornaConfigVersion.cmake, DornaTargets.cmake), the
# pkg-config file dorna.pc, and the installed tool root written into the
# installed library and tools.
include(CMakePackageConfigHelpers)

add_library(dorna_all INTERFACE)
add_library(dorna::all ALIAS dorna_all)
target_link_libraries(dorna_all INTERFACE dorna_help dorna_textmenu dorna_nls dorna_dbm
                      dorna_syscmd dorna_list dorna_utils dorna_memory)
set_target_properties(dorna_all PROPERTIES EXPORT_NAME dorna)
install(TARGETS dorna_all EXPORT DornaTargets)

install(EXPORT DornaTargets NAMESPACE Dorna:: DESTINATION ${DORNA_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/DornaConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/DornaConfig.cmake
  INSTALL_DESTINATION ${DORNA_INSTALL_CMAKEDIR}
  PATH_VARS DORNA_INSTALL_DATADIR CMAKE_INSTALL_INCLUDEDIR)
# A program written for 4.30 builds against any later 4.x.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/DornaConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/DornaConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/DornaConfigVersion.cmake
        DESTINATION ${DORNA_INSTALL_CMAKEDIR})

# dorna.pc names the prefix relative to its own place, so the package can be
# installed anywhere (--prefix) or moved as a whole.
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH pc_up /${pc_dir} /)
string(REGEX REPLACE "/$" "" pc_up "${pc_up}")
set(DORNA_PC_PREFIX "\${pcfiledir}/${pc_up}")
set(DORNA_PC_LIBS "")
foreach(lib IN LISTS DORNA_MODULES)
  string(REGEX REPLACE "^dorna_" "-ldorna_" flag ${lib})
  string(APPEND DORNA_PC_LIBS "${flag} ")
endforeach()
string(APPEND DORNA_PC_LIBS "-lcrypt")
configure_file(${CMAKE_CURRENT_LIST_DIR}/dorna.pc.in ${CMAKE_CURRENT_BINARY_DIR}/dorna.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/dorna.pc DESTINATION ${pc_dir})

# Last of all the install rules: the installed library and tools learn where
# their tool root was installed (see dbm/ToolRoot.cpp). DESTDIR stages the
# files elsewhere; the root written is where they will run.
install(CODE "
  get_filename_component(dorna_root \"\${CMAKE_INSTALL_PREFIX}/${DORNA_INSTALL_DATADIR}\" ABSOLUTE)
  set(dorna_stage \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  set(dorna_files \"\${dorna_stage}/${CMAKE_INSTALL_LIBDIR}/libdorna_dbm.a\")
  foreach(tool xdb dphelp dpqsettings nls_mkcatalog)
    list(APPEND dorna_files \"\${dorna_stage}/${CMAKE_INSTALL_BINDIR}/\${tool}\")
  endforeach()
  execute_process(COMMAND \"$<TARGET_FILE:dbm_settoolroot>\" \"\${dorna_root}\" \${dorna_files}
                  RESULT_VARIABLE dorna_status)
  if(NOT dorna_status EQUAL 0)
    message(FATAL_ERROR \"Could not write the tool root \${dorna_root} into the installed files\")
  endif()
  message(STATUS \"Tool root: \${dorna_root}\")
")
