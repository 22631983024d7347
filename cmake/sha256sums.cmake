# Writes SHA256SUMS.txt for the files named: one "hash  name" line each, CR LF, as sha256sum
# checks it and Notepad shows it. cmake -DDIR=folder "-DFILES=a;b" -P sha256sums.cmake
set(text "")
foreach(name IN LISTS FILES)
  file(SHA256 "${DIR}/${name}" hash)
  string(APPEND text "${hash}  ${name}\r\n")
endforeach()
file(WRITE "${DIR}/SHA256SUMS.txt" "${text}")
