# The program's version: the one line of VERSION at the top of the tree. Everything that names a version
# (the dialog's caption, the package, the release files, the site) takes VEXA_VERSION from here. The
# resource scripts read it from vexa_version.h, made here in the build folder (VEXA_GENERATED_DIR): the
# resource compiler joins the caption's two strings into the one the template has always carried.
file(STRINGS ${PROJECT_SOURCE_DIR}/VERSION VEXA_VERSION LIMIT_COUNT 1)
if(NOT VEXA_VERSION MATCHES "^[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "VERSION holds \"${VEXA_VERSION}\", not a version such as 3.1")
endif()
set(VEXA_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
file(CONFIGURE OUTPUT ${VEXA_GENERATED_DIR}/vexa_version.h
     CONTENT "// Made by cmake/version.cmake from VERSION.\n#define VEXA_VERSION_TEXT \"${VEXA_VERSION}\"\n")
