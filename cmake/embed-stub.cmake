# Writes a C++ source holding the finished stubs' bytes, so that the tool
# needs no stub file beside it:
#   cmake -DIN=qornsfx-stub.exe -DRUN=qornsfx-run-stub.exe -DOUT=embedded_stub.cpp
#         -P embed-stub.cmake
function(qorn_bytes FILE VAR)
  file(READ ${FILE} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
  set(${VAR} "${bytes}" PARENT_SCOPE)
endfunction()
qorn_bytes(${IN} stub)
qorn_bytes(${RUN} run)
file(WRITE ${OUT}.new
  "// Generated at build time from the finished stubs; do not edit.\n"
  "#include \"tools/embedded_stub.h\"\n\n"
  "namespace qorn::tool {\n\n"
  "const unsigned char kEmbeddedStub[] = {\n${stub}};\n"
  "const std::size_t kEmbeddedStubSize = sizeof kEmbeddedStub;\n"
  "const unsigned char kEmbeddedRunStub[] = {\n${run}};\n"
  "const std::size_t kEmbeddedRunStubSize = sizeof kEmbeddedRunStub;\n\n"
  "}  // namespace qorn::tool\n")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
