# Warning and sanitizer settings shared by every target of the project.

if(KESTO_SANITIZE)
  add_compile_options(-fsanitize=${KESTO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${KESTO_SANITIZE})
endif()

# Applies the project's warning set to one of our own targets (never to third-party code).
function(kesto_target_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Woverloaded-virtual>)
  if(KESTO_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
