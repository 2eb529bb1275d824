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

# Hardening of what ships: the client library (with the static KISS FFT inside it) and the
# stand-in decoder. Both take bytes from the network into someone else's process. Tests, tools
# and benchmark baselines are left as they are, so that the benchmarks show what it costs.
#
# Linux: stack protector (strong), stack-clash probes, CET (IBT landing pads, shadow-stack
# compatible code), full RELRO with immediate binding, and _FORTIFY_SOURCE where the optimiser
# runs (glibc warns without it, and with -Werror that fails the build). Sanitizer builds do
# without fortify: ASan does not see through the fortified __*_chk functions.
# Windows (mingw-w64): the stack protector, whose runtime (libssp) -static links into the
# module; ASLR with high-entropy addresses and NX stated explicitly, though current binutils
# set them anyway. GNU tools have no Control Flow Guard or CET-compatible marking for PE
# modules; the README says so. Windows probes every frame over a page by itself (___chkstk_ms).
set(_kh_fortify "")
if(WIN32)
  set(KESTO_HARDENING_COMPILE_FLAGS -fstack-protector-strong)
  set(KESTO_HARDENING_LINK_FLAGS
      -fstack-protector-strong -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)
else()
  set(KESTO_HARDENING_COMPILE_FLAGS
      -fstack-protector-strong -fstack-clash-protection -fcf-protection)
  if(NOT KESTO_SANITIZE)
    set(_kh_fortify -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
  endif()
  set(KESTO_HARDENING_LINK_FLAGS -Wl,-z,relro -Wl,-z,now)
endif()
# The same for third-party code built beside ours, which is always optimised: one string.
string(JOIN " " KESTO_HARDENING_THIRD_PARTY_FLAGS ${KESTO_HARDENING_COMPILE_FLAGS} ${_kh_fortify})
list(TRANSFORM _kh_fortify PREPEND "$<$<NOT:$<CONFIG:Debug>>:")
list(TRANSFORM _kh_fortify APPEND ">")
list(APPEND KESTO_HARDENING_COMPILE_FLAGS ${_kh_fortify})

# An object library passes the link flags on to whatever links its objects (the client library,
# and the unit tests, which on Windows need libssp for the protected objects as well).
function(kesto_target_hardening target)
  target_compile_options(${target} PRIVATE ${KESTO_HARDENING_COMPILE_FLAGS})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "OBJECT_LIBRARY")
    target_link_options(${target} INTERFACE ${KESTO_HARDENING_LINK_FLAGS})
  else()
    target_link_options(${target} PRIVATE ${KESTO_HARDENING_LINK_FLAGS})
  endif()
endfunction()
