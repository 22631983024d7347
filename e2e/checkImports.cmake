cmake_policy(SET CMP0057 NEW)  # IN_LIST
# Nubilo.asi imports the eight host functions by name, and otherwise only Windows system DLLs:
# no MinGW runtime DLL that a player would not have.
execute_process(COMMAND ${OBJDUMP} -p ${PLUGIN} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${PLUGIN}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" dllLines "${dump}")
set(dlls "")
foreach(line IN LISTS dllLines)
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  list(APPEND dlls "${dll}")
endforeach()
message(STATUS "imports from: ${dlls}")

set(failures "")
foreach(forbidden libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  if("${forbidden}" IN_LIST dlls)
    list(APPEND failures "imports ${forbidden}")
  endif()
endforeach()
set(system KERNEL32.dll msvcrt.dll USER32.dll ADVAPI32.dll)
foreach(dll IN LISTS dlls)
  if(NOT dll STREQUAL "ScriptHookRDR2.dll" AND NOT "${dll}" IN_LIST system)
    list(APPEND failures "imports ${dll}, which is neither the host nor a Windows system DLL")
  endif()
endforeach()

# The names imported from the host: the block after its DLL Name line, up to the next one.
string(REGEX MATCH "DLL Name: ScriptHookRDR2\\.dll\n(.*)" hostBlock "${dump}")
string(REGEX REPLACE "\n[ \t]*DLL Name:.*" "" hostBlock "${hostBlock}")
string(REGEX MATCHALL "\\?[A-Za-z0-9_@?$]+" hostNames "${hostBlock}")
list(SORT hostNames)
set(expected
  "?keyboardHandlerRegister@@YAXP6AXKGEHHHH@Z@Z"
  "?keyboardHandlerUnregister@@YAXP6AXKGEHHHH@Z@Z"
  "?nativeCall@@YAPEA_KXZ"
  "?nativeInit@@YAX_K@Z"
  "?nativePush64@@YAX_K@Z"
  "?scriptRegister@@YAXPEAUHINSTANCE__@@P6AXXZ@Z"
  "?scriptUnregister@@YAXPEAUHINSTANCE__@@@Z"
  "?scriptWait@@YAXK@Z")
list(SORT expected)
if(NOT hostNames STREQUAL expected)
  list(APPEND failures "host imports are [${hostNames}], not the eight host functions")
endif()

if(failures)
  message(FATAL_ERROR "Nubilo.asi imports wrongly:\n  ${failures}")
endif()
message(STATUS "Nubilo.asi imports exactly the eight host functions and system DLLs only")
