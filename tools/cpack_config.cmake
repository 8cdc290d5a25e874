# Read by cpack before it builds a package (CPACK_PROJECT_CONFIG_FILE).
#
# The sample catalogue's table files carry Shift_JIS names, and cpack's archive writer turns
# every file name into wide characters through the locale: in a UTF-8 or ASCII locale the
# names do not convert and cpack fails with "Can't lstat". In a single-byte locale every byte
# is a character and the names pass through unchanged, so cpack runs in one: ISO-8859-1, made
# with localedef into the build folder (the charmap comes with Debian's package "locales").
if(CPACK_GENERATOR STREQUAL "DEB")
  set(shelfra_locale_dir "${CPACK_SHELFRA_LOCALE_DIR}")
  set(shelfra_locale C.ISO-8859-1)
  if(NOT EXISTS "${shelfra_locale_dir}/${shelfra_locale}/LC_CTYPE")
    file(MAKE_DIRECTORY "${shelfra_locale_dir}")
    execute_process(COMMAND localedef -i C -f ISO-8859-1 "${shelfra_locale_dir}/${shelfra_locale}"
      RESULT_VARIABLE shelfra_rc OUTPUT_VARIABLE shelfra_out ERROR_VARIABLE shelfra_out)
    if(NOT EXISTS "${shelfra_locale_dir}/${shelfra_locale}/LC_CTYPE")
      message(FATAL_ERROR "cpack needs a single-byte locale for the Shift_JIS file names of the "
        "sample catalogue, and localedef could not make one (install the Debian package "
        "\"locales\"): ${shelfra_out}")
    endif()
  endif()
  set(ENV{LOCPATH} "${shelfra_locale_dir}")
  set(ENV{LC_ALL} "${shelfra_locale}")
endif()
