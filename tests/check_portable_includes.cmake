# Fails when a file of a portable folder under ROOT includes a Windows header
# or a Windows-only folder of ours. Run: cmake -DROOT=<src> -P this-file.
# With EXPECT_VIOLATIONS=N it passes only when exactly N files violate.
if(NOT ROOT)
  message(FATAL_ERROR "ROOT not set")
endif()

file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/*.h ${ROOT}/*.hpp ${ROOT}/*.cpp ${ROOT}/*.c ${ROOT}/*.inl)
set(windows_headers
  "windows|windef|winbase|winnt|winuser|wingdi|winreg|winerror|winioctl|winsock2?|ws2tcpip|wininet|wintrust|wincrypt"
  "|mmdeviceapi|audioclient|audiopolicy|endpointvolume|mmreg|mmsystem|avrt|ksmedia|ks|functiondiscoverykeys(_devpkey)?"
  "|propsys|propidl|propvarutil|propkey|objbase|combaseapi|comdef|comip|unknwn|ole2|oleauto|objidl|shlobj|shellapi|shlwapi"
  "|shobjidl|knownfolders|urlmon|mfapi|mfidl|mfreadwrite|mferror|mftransform|commctrl|commdlg|gdiplus|dwmapi"
  "|shellscalingapi|tlhelp32|psapi|processthreadsapi|synchapi|roapi|winstring|activation|wrl|softpub|mscat|io|direct|process|tchar|intrin")
string(JOIN "" windows_headers ${windows_headers})
set(pattern "^[ \t]*#[ \t]*include[ \t]*[<\"](((${windows_headers})\\.h)|platform/win32/|ui/|app/|wrl/)")

set(violations 0)
foreach(file ${files})
  if(file MATCHES "^(platform/win32|ui|app)/")
    continue()
  endif()
  file(STRINGS ${ROOT}/${file} lines)
  foreach(line IN LISTS lines)
    string(TOLOWER "${line}" lower)
    if(lower MATCHES "${pattern}")
      message("${file}: ${line}")
      math(EXPR violations "${violations} + 1")
      break()
    endif()
  endforeach()
endforeach()

if(DEFINED EXPECT_VIOLATIONS)
  if(NOT violations EQUAL EXPECT_VIOLATIONS)
    message(FATAL_ERROR "expected ${EXPECT_VIOLATIONS} violating files, found ${violations}")
  endif()
elseif(violations GREATER 0)
  message(FATAL_ERROR "${violations} portable file(s) include Windows headers or Windows-only folders")
endif()
