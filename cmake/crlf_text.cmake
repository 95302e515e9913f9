# SPDX-License-Identifier: MIT
# cmake -DIN=... -DOUT=... -P crlf_text.cmake: copies a text file with
# CR LF line ends, as Windows editors expect.
file(READ ${IN} content)
string(REPLACE "\r\n" "\n" content "${content}")
string(REPLACE "\n" "\r\n" content "${content}")
file(WRITE ${OUT} "${content}")
