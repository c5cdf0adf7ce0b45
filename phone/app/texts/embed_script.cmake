# Writes OUT, a C++ source holding the text of IN as builtinResourceScript().
file(READ ${IN} content)
string(FIND "${content}" ")vistrelrc\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} contains the raw-string delimiter")
endif()
file(WRITE ${OUT}.tmp "// Generated from ${IN}; do not edit.\n#include \"texts/language_table.h\"\n\nnamespace texts {\n\nstd::string_view builtinResourceScript() {\n  static constexpr char kScript[] = R\"vistrelrc(${content})vistrelrc\";\n  return std::string_view(kScript, sizeof kScript - 1);\n}\n\n}  // namespace texts\n")
file(COPY_FILE ${OUT}.tmp ${OUT} ONLY_IF_DIFFERENT)
