# The subsystems and what each may use: the one table of allowed dependencies.
#
# A row is: the layer, its folder under src/, and the layers it may include and
# link, lowest first. What a layer may use, the layers below it may use too
# (the closure is taken), so a row names only its nearest neighbours; dsp
# leaves out settings on purpose (numbers and signal code only: no texts, no
# files, no settings). Each folder's CMakeLists makes its library with
# ovix_layer_library(), which links exactly what the row allows; the include
# test (tests/check_portable_includes.cmake) reads the same rows and fails on
# any #include of a folder the row does not allow. A folder under src/ without
# a row is itself a violation: add its row here first.
#
#   layer            folder          may use
set(OVIX_LAYER_TABLE
  "platform          platform        -"
  "platform_sim      platform/sim    platform"
  "platform_win32    platform/win32  platform"
  "settings          settings        platform"
  "dsp               dsp             platform"
  "media             media           settings dsp"
  "engine            engine          settings dsp media"
  # Features: each stands on the engine, none on another.
  "clip              clip            engine"
  "recorder          recorder        engine"
  "soundboard        soundboard      engine"
  "cable             cable           engine"
  "appcapture        appcapture      engine"
  "console           console         clip recorder soundboard cable appcapture"
  "console_sim       console/sim     console platform_sim"
  "ui                ui              console"
  "ui_win32          ui/win32        ui platform_win32"
  "app               app             ui_win32"
)

# Parses the table into OVIX_LAYERS (names, table order), OVIX_LAYER_FOLDER_<name>
# and OVIX_LAYER_USES_<name> (direct), and OVIX_LAYER_ALLOWED_<name> (the closure,
# the layer itself included).
function(ovix_read_layer_table)
  set(names "")
  foreach(row IN LISTS OVIX_LAYER_TABLE)
    string(REGEX REPLACE "[ \t]+" ";" fields "${row}")
    list(POP_FRONT fields name folder)
    if(fields STREQUAL "-")
      set(fields "")
    endif()
    foreach(use IN LISTS fields)
      if(NOT use IN_LIST names)
        message(FATAL_ERROR "layer table: ${name} uses ${use}, which is not a row above it")
      endif()
    endforeach()
    list(APPEND names ${name})
    set(OVIX_LAYER_FOLDER_${name} ${folder} PARENT_SCOPE)
    set(OVIX_LAYER_USES_${name} "${fields}" PARENT_SCOPE)
    # Rows only name rows above them, so the closures of the uses are complete.
    set(allowed ${name})
    foreach(use IN LISTS fields)
      list(APPEND allowed ${allowed_${use}})
    endforeach()
    list(REMOVE_DUPLICATES allowed)
    set(allowed_${name} "${allowed}")
    set(OVIX_LAYER_ALLOWED_${name} "${allowed}" PARENT_SCOPE)
  endforeach()
  set(OVIX_LAYERS "${names}" PARENT_SCOPE)
endfunction()
ovix_read_layer_table()

# The layer a path under src/ belongs to (the row with the longest matching
# folder), or "" when no row's folder holds it.
function(ovix_layer_of path out)
  set(best "")
  set(bestLength 0)
  foreach(name IN LISTS OVIX_LAYERS)
    set(folder ${OVIX_LAYER_FOLDER_${name}})
    string(LENGTH "${folder}" length)
    string(FIND "${path}" "${folder}/" at)
    if(at EQUAL 0 AND length GREATER bestLength)
      set(best ${name})
      set(bestLength ${length})
    endif()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

# ovix_layer_library(LAYER SOURCES...): the layer's library ovix_<layer>, linked
# to the libraries of every layer its row allows that exists so far (a layer
# whose own neighbours are not written yet still reaches the ones below them).
# Folders add their libraries lowest first, so those below are already there.
function(ovix_layer_library layer)
  if(NOT layer IN_LIST OVIX_LAYERS)
    message(FATAL_ERROR "ovix_layer_library: ${layer} has no row in the layer table (cmake/layers.cmake)")
  endif()
  add_library(ovix_${layer} STATIC ${ARGN})
  target_link_libraries(ovix_${layer} PRIVATE ovix_warnings)
  foreach(use IN LISTS OVIX_LAYER_ALLOWED_${layer})
    if(NOT use STREQUAL layer AND TARGET ovix_${use})
      target_link_libraries(ovix_${layer} PUBLIC ovix_${use})
    endif()
  endforeach()
endfunction()

# Fails the configure when a layer library links another layer's library that
# its row does not allow (a link added by hand beside the table).
function(ovix_check_layer_links)
  foreach(name IN LISTS OVIX_LAYERS)
    if(NOT TARGET ovix_${name})
      continue()
    endif()
    get_target_property(links ovix_${name} LINK_LIBRARIES)
    foreach(link IN LISTS links)
      if(link MATCHES "^ovix_(.+)$" AND CMAKE_MATCH_1 IN_LIST OVIX_LAYERS
         AND NOT CMAKE_MATCH_1 IN_LIST OVIX_LAYER_ALLOWED_${name})
        message(FATAL_ERROR "ovix_${name} links ${link}, which the layer table does not allow")
      endif()
    endforeach()
  endforeach()
endfunction()
