# Run as `cmake -P`: writes a C++ source holding files as byte arrays, so
# the binary carries them and nothing has to be installed beside it.
#   VQ_EMBED_OUTPUT  the .cpp to write
#   VQ_EMBED_HEADER  the header it includes (declares VQ_EmbeddedFile and the table)
#   VQ_EMBED_TABLE   the name of the table (const VQ_EmbeddedFile NAME[], size_t NAME_count)
#   VQ_EMBED_FILES   the files; each is found under its file name
set(out "// Generated at build time from ${VQ_EMBED_FILES}; do not edit.\n")
string(APPEND out "#include \"${VQ_EMBED_HEADER}\"\n\nnamespace {\n")
set(entries "")
set(n 0)
foreach(path IN LISTS VQ_EMBED_FILES)
  get_filename_component(name "${path}" NAME)
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND out "const char k${n}[] = {\n${bytes}'\\0'};\n")
  string(APPEND entries "    {\"${name}\", std::string_view(k${n}, ${size})},\n")
  math(EXPR n "${n} + 1")
endforeach()
string(APPEND out "}  // namespace\n\nconst VQ_EmbeddedFile ${VQ_EMBED_TABLE}[] = {\n${entries}};\n")
string(APPEND out "const size_t ${VQ_EMBED_TABLE}_count = ${n};\n")
file(WRITE "${VQ_EMBED_OUTPUT}.tmp" "${out}")
file(RENAME "${VQ_EMBED_OUTPUT}.tmp" "${VQ_EMBED_OUTPUT}")
