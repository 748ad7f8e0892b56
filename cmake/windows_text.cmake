# cmake -DIN=text.txt -DOUT=windows.txt -P windows_text.cmake
# Writes a UTF-8 text the way every Notepad reads it: with a byte-order mark
# (older ones take a text without it for the ANSI code page) and CR LF line ends.
file(READ ${IN} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 bom)
file(WRITE ${OUT} "${bom}${text}")
