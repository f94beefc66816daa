# Writes a C++ source holding the finished stub's bytes, so that the tool
# needs no stub file beside it:
#   cmake -DIN=qornsfx-stub.exe -DOUT=embedded_stub.cpp -P embed-stub.cmake
file(READ ${IN} hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT}.new
  "// Generated at build time from the finished stub; do not edit.\n"
  "#include \"tools/embedded_stub.h\"\n\n"
  "namespace qorn::tool {\n\n"
  "const unsigned char kEmbeddedStub[] = {\n${bytes}};\n"
  "const std::size_t kEmbeddedStubSize = sizeof kEmbeddedStub;\n\n"
  "}  // namespace qorn::tool\n")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
