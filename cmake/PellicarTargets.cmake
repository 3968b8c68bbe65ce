# Common settings for the project's own targets: strict warnings as errors,
# and the sanitizers chosen at configure time. Foreign headers (Qt,
# GoogleTest, CUPS) come in as system headers and are not affected.

set(PELLICAR_WARNINGS
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror)

set(PELLICAR_SANITIZER_FLAGS)
if(PELLICAR_ASAN)
  set(PELLICAR_SANITIZER_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
elseif(PELLICAR_TSAN)
  set(PELLICAR_SANITIZER_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
endif()

function(pellicar_target target)
  target_compile_options(${target} PRIVATE ${PELLICAR_WARNINGS} ${PELLICAR_SANITIZER_FLAGS})
  target_link_options(${target} PRIVATE ${PELLICAR_SANITIZER_FLAGS})
  set_target_properties(${target} PROPERTIES AUTOMOC ON AUTOUIC ON)
endfunction()
