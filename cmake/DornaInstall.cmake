# Install rules of the library modules.
#
# Each module's static library is installed under <prefix>/lib and exported as
# Dorna::<name>; its public headers go flat into <prefix>/include/dorna, so a
# program outside the tree includes them as <dorna/utils.h>. Inside the tree
# the modules include each other as "X.h"; installed flat, such an include
# finds the header beside the one that names it, so the same headers work in
# both places. Private headers (the *Priv.h and test helpers) stay out.
include(GNUInstallDirs)

set(DORNA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Dorna)
set(DORNA_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/dorna)

# Every installed library in link order, the highest first (dorna.pc's Libs).
set(DORNA_MODULES dorna_help dorna_html dorna_textmenu dorna_nls dorna_nls_po dorna_nls_lang
    dorna_dbm dorna_syscmd dorna_list dorna_utils dorna_memory)

# dorna_install_library(<target> <export name> [HEADERS <header>...])
function(dorna_install_library target name)
  cmake_parse_arguments(arg "" "" "HEADERS" ${ARGN})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
  # The public headers are C++20, as the library.
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  install(TARGETS ${target} EXPORT DornaTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  if(arg_HEADERS)
    install(FILES ${arg_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dorna)
    # In the build tree <dorna/X.h> names the same header as "X.h": a
    # forwarding header in <build>/include/dorna, so code written against
    # the installed package also builds inside the tree.
    foreach(header IN LISTS arg_HEADERS)
      file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/include/dorna/${header}
           CONTENT "#include \"${CMAKE_CURRENT_SOURCE_DIR}/${header}\"\n")
    endforeach()
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${CMAKE_BINARY_DIR}/include>)
  endif()
endfunction()
