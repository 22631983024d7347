# Puts the compiled module and the page's script into the page, so one file works from file://
# without fetching anything.
file(READ "${TEMPLATE}" page)
file(READ "${MODULE}" module)
file(READ "${SCRIPT}" script)
string(FIND "${page}" "/*NUBILO_MODULE*/" moduleAt)
string(FIND "${page}" "/*NUBILO_PAGE*/" scriptAt)
if(moduleAt EQUAL -1 OR scriptAt EQUAL -1)
  message(FATAL_ERROR "page.html lacks its /*NUBILO_MODULE*/ or /*NUBILO_PAGE*/ place")
endif()
# A module that held "</script>" would end the script element early.
string(FIND "${module}" "</script" closing)
if(NOT closing EQUAL -1)
  message(FATAL_ERROR "the compiled module holds </script")
endif()
string(REPLACE "/*NUBILO_MODULE*/" "${module}" page "${page}")
string(REPLACE "/*NUBILO_PAGE*/" "${script}" page "${page}")
file(WRITE "${OUT}" "${page}")
