# Writes a C++ source that holds a file's bytes, so that a tool finds the text without a path to look in:
#   cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DNAMESPACE=<ns> -DSYMBOL=<name> -P EmbedText.cmake
# The source defines `const unsigned char <SYMBOL>[]` (the bytes and a trailing NUL) and
# `const std::size_t <SYMBOL>Size` (the bytes without it) in the namespace.
#
# The bytes go in as numbers rather than as a raw string literal: a raw string would need a delimiter that the
# text never contains, and a compiler may turn the text's CR LF line ends into LF while reading the source,
# so the embedded text would no longer be the file's. Numbers keep every byte, UTF-8 included.
foreach(required INPUT OUTPUT NAMESPACE SYMBOL)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "EmbedText.cmake: -D${required}=... is required")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
file(RELATIVE_PATH shownInput "${CMAKE_CURRENT_LIST_DIR}/.." "${INPUT}")

set(body "")
set(lineChars 48)  # 24 bytes a line
set(at 0)
while(at LESS hexLength)
  string(SUBSTRING "${hex}" ${at} ${lineChars} chunk)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," chunk "${chunk}")
  string(APPEND body "    ${chunk}\n")
  math(EXPR at "${at} + ${lineChars}")
endwhile()

set(text "// Generated from ${shownInput} by cmake/EmbedText.cmake at build time; edit that file, not this one.
#include <cstddef>

namespace ${NAMESPACE} {

extern const unsigned char ${SYMBOL}[];
extern const std::size_t ${SYMBOL}Size;

const unsigned char ${SYMBOL}[] = {
${body}    0x00,
};
const std::size_t ${SYMBOL}Size = sizeof(${SYMBOL}) - 1;

}  // namespace ${NAMESPACE}
")

file(WRITE "${OUTPUT}" "${text}")
