# Fails when a file under src/ includes a project header from a folder above its own: each folder
# is a layer that builds on the ones below it only, so a change low down never needs the code above.
#   cmake -DSRC=<the src folder> -P checkLayers.cmake
set(layers host log fileAccess settings weather cycle plugin)  # the floor first

get_filename_component(SRC "${SRC}" ABSOLUTE)
file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*)
if(NOT files)
  message(FATAL_ERROR "No files under ${SRC}")
endif()
set(wrong "")
foreach(file IN LISTS files)
  string(REGEX MATCH "^[^/]+" folder "${file}")
  list(FIND layers "${folder}" level)
  if(level EQUAL -1)
    list(APPEND wrong "${file}: its folder is not among the layers")
  endif()
  # Quoted and angled alike: a project header in <> is still a project header. A ".." could climb
  # into any folder, so it is refused outright.
  file(STRINGS ${SRC}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[^\"<]*[\"<]([^\">]*)[\">].*" "\\1" header "${line}")
    string(REGEX MATCH "^[^/]+" used "${header}")
    list(FIND layers "${used}" usedLevel)
    string(FIND "${line}" "<" angled)
    if(header MATCHES "\\.\\.")
      list(APPEND wrong "${file}: includes ${header}, a path that climbs")
    elseif(usedLevel GREATER level OR (usedLevel EQUAL -1 AND angled EQUAL -1))
      list(APPEND wrong "${file}: includes ${header}, not of its layer (${folder}) or one below")
    endif()
  endforeach()
endforeach()

list(JOIN layers " < " order)
if(wrong)
  list(JOIN wrong "\n  " lines)
  message(FATAL_ERROR "Includes against the layers (${order}):\n  ${lines}")
endif()
list(LENGTH files count)
message(STATUS "${count} files under src/ include within their layers")
