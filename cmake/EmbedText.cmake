# Writes a C++ source that returns the text of each input file from a function:
#   cmake -DOUTPUT=out.cpp -DHEADER=some/Header.h -DFILES="fn1=path1;fn2=path2" -P EmbedText.cmake
# Each fn becomes `std::string_view fn()` in namespace krp, its text a raw string literal.
set(delimiter "krp_embedded")
set(out "// Generated from the files named below by cmake/EmbedText.cmake. Do not edit.\n")
string(APPEND out "#include \"${HEADER}\"\n\nnamespace krp {\n")
foreach(entry IN LISTS FILES)
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 function)
  list(GET parts 1 path)
  file(READ "${path}" content)
  string(FIND "${content}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${path} holds the raw string's end \")${delimiter}\"")
  endif()
  get_filename_component(name "${path}" NAME)
  string(APPEND out "\n// ${name}\nstd::string_view ${function}()\n{\n"
                    "    return R\"${delimiter}(${content})${delimiter}\";\n}\n")
endforeach()
string(APPEND out "\n}  // namespace krp\n")
file(WRITE "${OUTPUT}.tmp" "${out}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
