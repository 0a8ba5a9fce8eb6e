# Checks every #include of the files under ROOT (a src/ tree) against the layer
# table (cmake/layers.cmake): a file may include its own layer's folder and the
# folders its row allows, never one above it or beside it; outside
# platform/win32, ui/win32 and app no Windows header is included at all; and a
# folder without a row in the table is a violation too.
# Run: cmake -DROOT=<src> -P this-file.
# With EXPECT_VIOLATIONS=a,b,... it passes only when exactly those files
# (relative to ROOT) violate.
cmake_minimum_required(VERSION 3.20)
if(NOT ROOT)
  message(FATAL_ERROR "ROOT not set")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/layers.cmake)

set(windows_headers
  "windows|windef|winbase|winnt|winuser|wingdi|winreg|winerror|winioctl|winsock2?|ws2tcpip|wininet|wintrust|wincrypt"
  "|mmdeviceapi|audioclient|audiopolicy|endpointvolume|mmreg|mmsystem|avrt|ksmedia|ks|functiondiscoverykeys(_devpkey)?"
  "|propsys|propidl|propvarutil|propkey|objbase|combaseapi|comdef|comip|unknwn|ole2|oleauto|objidl|shlobj|shellapi|shlwapi"
  "|shobjidl|knownfolders|urlmon|mfapi|mfidl|mfreadwrite|mferror|mftransform|commctrl|commdlg|gdiplus|dwmapi"
  "|shellscalingapi|tlhelp32|psapi|processthreadsapi|synchapi|roapi|winstring|activation|wrl|softpub|mscat|io|direct|process|tchar|intrin")
string(JOIN "" windows_headers ${windows_headers})
set(windows_pattern "^((${windows_headers})\\.h|wrl/)")
set(windows_layers platform_win32 ui_win32 app)

file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/*.h ${ROOT}/*.hpp ${ROOT}/*.cpp ${ROOT}/*.c ${ROOT}/*.inl)
set(violating "")
foreach(file ${files})
  ovix_layer_of(${file} layer)
  if(layer STREQUAL "")
    message("${file}: its folder has no row in the layer table")
    list(APPEND violating ${file})
    continue()
  endif()
  file(STRINGS ${ROOT}/${file} lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"]")
      continue()
    endif()
    set(included ${CMAKE_MATCH_1})
    string(TOLOWER "${included}" lower)
    set(why "")
    if(NOT layer IN_LIST windows_layers AND lower MATCHES "${windows_pattern}")
      set(why "a Windows header outside the Windows-only folders")
    else()
      ovix_layer_of(${included} target)
      if(NOT target STREQUAL "" AND NOT target IN_LIST OVIX_LAYER_ALLOWED_${layer})
        set(why "${layer} may not use ${target}")
      endif()
    endif()
    if(why)
      message("${file}: ${line}  (${why})")
      list(APPEND violating ${file})
      break()
    endif()
  endforeach()
endforeach()

if(DEFINED EXPECT_VIOLATIONS)
  string(REPLACE "," ";" expected "${EXPECT_VIOLATIONS}")
  list(SORT expected)
  list(SORT violating)
  if(NOT expected STREQUAL violating)
    message(FATAL_ERROR "expected violations in: ${expected}\nfound in: ${violating}")
  endif()
else()
  list(LENGTH violating count)
  if(count GREATER 0)
    message(FATAL_ERROR "${count} file(s) include what the layer table does not allow (cmake/layers.cmake)")
  endif()
endif()
