# SPDX-License-Identifier: MIT
# The program runs as root: every binary is built hardened, also without a packager's flags.
# A flag the packager (dpkg-buildflags, say) already passes is not added a second time, and a
# flag the compiler or the architecture does not take is left out.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# Each flag, and what it looks like when a packager already passes it in some form.
set(_given_flags "${CMAKE_CXX_FLAGS}")
foreach(_pair "-fstack-protector-strong;-fstack-protector" "-fstack-clash-protection;-fstack-clash"
              "-fcf-protection;-fcf-protection")
  list(GET _pair 0 _flag)
  list(GET _pair 1 _given_as)
  string(REPLACE "-" "_" _name "${_flag}")
  if(NOT _given_flags MATCHES "${_given_as}")
    check_cxx_compiler_flag(${_flag} KESTRILAVON_HAS${_name})
    if(KESTRILAVON_HAS${_name})
      add_compile_options(${_flag})
    endif()
  endif()
endforeach()

# Fortification needs the optimiser; the sanitizer build is unoptimised.
if(NOT _given_flags MATCHES "_FORTIFY_SOURCE" AND NOT KESTRILAVON_SANITIZE)
  add_compile_options($<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
endif()

set(_given_link_flags "${CMAKE_EXE_LINKER_FLAGS}")
if(NOT _given_link_flags MATCHES "relro")
  add_link_options(LINKER:-z,relro)
endif()
if(NOT _given_link_flags MATCHES "-z,now|-z now")
  add_link_options(LINKER:-z,now)
endif()
