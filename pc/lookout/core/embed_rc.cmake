# Writes the script IN as a C++ string constant into OUT (the built-in own module), as
# NAMESPACE::kBuiltinOwnModule (NAMESPACE defaults to lookout).
if(NOT DEFINED NAMESPACE)
  set(NAMESPACE lookout)
endif()
file(READ ${IN} text)
file(WRITE ${OUT} "namespace ${NAMESPACE} {\nextern const char* const kBuiltinOwnModule;\nconst char* const kBuiltinOwnModule = R\"vistrelrc(${text})vistrelrc\";\n}  // namespace ${NAMESPACE}\n")
