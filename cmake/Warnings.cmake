# Warnings and sanitizers live on an INTERFACE target that every
# Pointfall target links, so nothing touches the global flags.
add_library(pointfall_warnings INTERFACE)
target_compile_options(pointfall_warnings INTERFACE -Wall -Wextra -Wshadow)
if(POINTFALL_SANITIZE)
  string(REPLACE ";" "," _pf_san "${POINTFALL_SANITIZE}")
  target_compile_options(pointfall_warnings INTERFACE -fsanitize=${_pf_san} -fno-omit-frame-pointer)
  target_link_options(pointfall_warnings INTERFACE -fsanitize=${_pf_san})
endif()
