# Copies a text file with every line end made CR LF, as Notepad shows it on every Windows version.
# cmake -DIN=source -DOUT=destination -P toCrlf.cmake
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
