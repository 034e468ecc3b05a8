# The program's version: the one line of VERSION at the top of the tree. Everything that names a version
# (the package, the release files, the site) takes VEXA_VERSION from here; the dialog's caption in
# res/ui.rc must name the same one, which configuring checks.
file(STRINGS ${PROJECT_SOURCE_DIR}/VERSION VEXA_VERSION LIMIT_COUNT 1)
file(STRINGS ${PROJECT_SOURCE_DIR}/res/ui.rc vexa_caption REGEX "^CAPTION ")
if(NOT vexa_caption MATCHES " ${VEXA_VERSION}\"$")
  message(FATAL_ERROR "res/ui.rc's caption (${vexa_caption}) does not name version ${VEXA_VERSION} (VERSION)")
endif()
