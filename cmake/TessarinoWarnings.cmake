# Compiler warnings and sanitizers shared by every target of the project.
add_library(tessarino_warnings INTERFACE)
if(MSVC)
  target_compile_options(tessarino_warnings INTERFACE /W4)
  if(TESSARINO_WERROR)
    target_compile_options(tessarino_warnings INTERFACE /WX)
  endif()
else()
  target_compile_options(tessarino_warnings INTERFACE
    -Wall -Wextra -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
  if(TESSARINO_WERROR)
    target_compile_options(tessarino_warnings INTERFACE -Werror)
  endif()
endif()

if(TESSARINO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
