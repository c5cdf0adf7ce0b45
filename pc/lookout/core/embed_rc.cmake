# Writes the script IN as a C++ string constant into OUT (the built-in own module).
file(READ ${IN} text)
file(WRITE ${OUT} "namespace lookout {\nextern const char* const kBuiltinOwnModule;\nconst char* const kBuiltinOwnModule = R\"vistrelrc(${text})vistrelrc\";\n}  // namespace lookout\n")
