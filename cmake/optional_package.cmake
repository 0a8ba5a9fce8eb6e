# ovix_link_optional(TARGET MODULE DEFINE DEBIAN_PACKAGE): links the pkg-config
# MODULE into TARGET and defines DEFINE=1 when the module is installed; without
# it the target builds anyway and says which comparison it skips. For the
# libraries our effects are compared with in tests and benchmarks only.
find_package(PkgConfig QUIET)

function(ovix_link_optional target module define package)
  string(MAKE_C_IDENTIFIER ${module} id)
  string(TOUPPER ${id} id)
  if(PkgConfig_FOUND)
    pkg_check_modules(OVIX_PKG_${id} QUIET IMPORTED_TARGET ${module})
  endif()
  if(OVIX_PKG_${id}_FOUND)
    target_link_libraries(${target} PRIVATE PkgConfig::OVIX_PKG_${id})
    target_compile_definitions(${target} PRIVATE ${define}=1)
  else()
    message(STATUS "${target}: ${module} not found; its comparison is skipped (apt-get install ${package})")
  endif()
endfunction()
