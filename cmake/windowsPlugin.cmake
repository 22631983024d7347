# The Windows side: Nubilo.asi as players get it, and the substitute host as a DLL that a
# Windows loader can map in place of ScriptHookRDR2.dll for the end-to-end tests.

# Import library for the host, made from the list of its exported names.
set(hostDef ${PROJECT_SOURCE_DIR}/src/host/ScriptHookRDR2.def)
if(MSVC)
  set(hostImportLib ${CMAKE_CURRENT_BINARY_DIR}/ScriptHookRDR2.lib)
  add_custom_command(OUTPUT ${hostImportLib}
    COMMAND lib /nologo /def:${hostDef} /machine:x64 /out:${hostImportLib}
    DEPENDS ${hostDef} VERBATIM)
else()
  find_program(NUBILO_DLLTOOL NAMES ${CMAKE_CXX_COMPILER_TARGET}-dlltool x86_64-w64-mingw32-dlltool dlltool REQUIRED)
  set(hostImportLib ${CMAKE_CURRENT_BINARY_DIR}/libScriptHookRDR2.a)
  add_custom_command(OUTPUT ${hostImportLib}
    COMMAND ${NUBILO_DLLTOOL} -d ${hostDef} -l ${hostImportLib}
    DEPENDS ${hostDef} VERBATIM)
endif()
add_custom_target(hostImportLibrary DEPENDS ${hostImportLib})

configure_file(${PROJECT_SOURCE_DIR}/src/plugin/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/version.rc @ONLY)

# The shipped plug-in runs the star's file work on a thread of its own (substitute builds: at once).
add_library(Nubilo SHARED src/plugin/dllMain.cpp src/host/workerWindows.cpp ${CMAKE_CURRENT_BINARY_DIR}/version.rc)
set_target_properties(Nubilo PROPERTIES PREFIX "" SUFFIX ".asi" OUTPUT_NAME Nubilo)
add_dependencies(Nubilo hostImportLibrary)
target_link_libraries(Nubilo PRIVATE nubilo_core nubilo_clock ${hostImportLib})
if(NOT MSVC)
  # Players need no MinGW runtime DLLs.
  target_link_options(Nubilo PRIVATE -static -static-libgcc -static-libstdc++ $<$<CONFIG:Release>:-s>)
endif()

if(NUBILO_TESTS)
  add_subdirectory(e2e)
endif()

# The player's package: Nubilo.asi, the player's README (CR LF line ends, and a name that no other
# mod's readme in the game folder has), the designer page, built by the designer preset, and the
# SHA-256 of each.
set(NUBILO_DESIGNER_PAGE "${PROJECT_SOURCE_DIR}/build/designer/Nubilo Designer.html" CACHE FILEPATH
    "Nubilo Designer.html for the player's package (cmake --build --preset designer makes it)")
set(packageName Nubilo-${PROJECT_VERSION}-win64)
set(packageDir ${CMAKE_CURRENT_BINARY_DIR}/package)
add_custom_target(package-zip
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${packageDir}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${packageDir}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Nubilo> ${packageDir}/Nubilo.asi
  COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/docs/README.txt "-DOUT=${packageDir}/Nubilo README.txt"
          -P ${PROJECT_SOURCE_DIR}/cmake/toCrlf.cmake
  COMMAND ${CMAKE_COMMAND} -E copy ${NUBILO_DESIGNER_PAGE} "${packageDir}/Nubilo Designer.html"
  COMMAND ${CMAKE_COMMAND} -DDIR=${packageDir} "-DFILES=Nubilo.asi;Nubilo README.txt;Nubilo Designer.html"
          -P ${PROJECT_SOURCE_DIR}/cmake/sha256sums.cmake
  COMMAND ${CMAKE_COMMAND} -E chdir ${packageDir} ${CMAKE_COMMAND} -E tar cf ${CMAKE_CURRENT_BINARY_DIR}/${packageName}.zip
          --format=zip Nubilo.asi "Nubilo README.txt" "Nubilo Designer.html" SHA256SUMS.txt
  DEPENDS Nubilo ${PROJECT_SOURCE_DIR}/docs/README.txt ${PROJECT_SOURCE_DIR}/cmake/toCrlf.cmake
          ${PROJECT_SOURCE_DIR}/cmake/sha256sums.cmake ${NUBILO_DESIGNER_PAGE}
  COMMENT "Packing ${packageName}.zip"
  VERBATIM)
