# Finds libedit, the BSD-licensed line editor (Debian's libedit-dev), with
# its readline-compatible header <editline/readline.h>.
#
#   Libedit_FOUND          true when both the header and the library are found
#   Libedit::Libedit       the library, with its include folder
#
# -DCMAKE_DISABLE_FIND_PACKAGE_Libedit=ON builds without it.
find_path(Libedit_INCLUDE_DIR editline/readline.h)
find_library(Libedit_LIBRARY edit)
mark_as_advanced(Libedit_INCLUDE_DIR Libedit_LIBRARY)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Libedit REQUIRED_VARS Libedit_LIBRARY Libedit_INCLUDE_DIR)

if(Libedit_FOUND AND NOT TARGET Libedit::Libedit)
  add_library(Libedit::Libedit UNKNOWN IMPORTED)
  set_target_properties(Libedit::Libedit PROPERTIES
    IMPORTED_LOCATION "${Libedit_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${Libedit_INCLUDE_DIR}")
endif()
