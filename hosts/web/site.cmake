# Assembles the site from its parts: every file but the page (index.html) and the service worker (sw.js)
# gets the start of its SHA-256 in its name (page.js -> page.1a2b3c4d5e.js), so that a name always means
# the same bytes and no browser or cache between can pair files of two builds. The page names them all:
# its links carry the new names, and the meta "vexa-files" maps each plain name to its hashed one for the
# files the page's scripts load (vexa.js, vexa.wasm, vexa.worker.js). The service worker starts with the
# list of the site's files and their hashes, so that it changes with every build and can check what it
# stores.
#
# cmake -DPARTS=<folder> -DSITE=<folder> -DVERSION=<version> -P site.cmake
# PARTS holds the files under their plain names; SITE is emptied and then holds the site.
cmake_minimum_required(VERSION 3.24)
foreach(variable PARTS SITE VERSION)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "site.cmake: ${variable} is not set")
  endif()
endforeach()

set(HASH_LENGTH 10)
# Text files that name other files of the site: their names are replaced before they are hashed.
set(NAMING_SUFFIXES .html .webmanifest)

# The first HASH_LENGTH hex digits of the SHA-256 of `text`.
function(short_hash text out)
  string(SHA256 hash "${text}")
  string(SUBSTRING ${hash} 0 ${HASH_LENGTH} hash)
  set(${out} ${hash} PARENT_SCOPE)
endfunction()

# "vexa.worker.js" and hash h -> "vexa.worker.h.js".
function(hashed_name name hash out)
  string(FIND ${name} . dot REVERSE)
  string(SUBSTRING ${name} 0 ${dot} stem)
  string(SUBSTRING ${name} ${dot} -1 suffix)
  set(${out} ${stem}.${hash}${suffix} PARENT_SCOPE)
endfunction()

# Replaces every quoted plain name in `text` with its hashed name.
function(rename_in text out)
  foreach(name IN LISTS renamed)
    string(REPLACE "\"${name}\"" "\"${hashed_${name}}\"" text "${text}")
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${SITE})
file(MAKE_DIRECTORY ${SITE})
file(GLOB parts RELATIVE ${PARTS} ${PARTS}/*)
list(REMOVE_ITEM parts index.html sw.js)
list(SORT parts)

# Files that name none of the others first, then those that do.
set(renamed "")
set(sw_files "")
foreach(naming OFF ON)
  foreach(name IN LISTS parts)
    string(FIND ${name} . dot REVERSE)
    string(SUBSTRING ${name} ${dot} -1 suffix)
    list(FIND NAMING_SUFFIXES ${suffix} found)
    if((found GREATER -1) AND naming)
      file(READ ${PARTS}/${name} text)
      rename_in("${text}" text)
      file(WRITE ${SITE}/${name} "${text}")
      file(SHA256 ${SITE}/${name} hash)
    elseif((found EQUAL -1) AND NOT naming)
      file(SHA256 ${PARTS}/${name} hash)
      file(COPY_FILE ${PARTS}/${name} ${SITE}/${name})
    else()
      continue()
    endif()
    string(SUBSTRING ${hash} 0 ${HASH_LENGTH} hash)
    hashed_name(${name} ${hash} hashed)
    file(RENAME ${SITE}/${name} ${SITE}/${hashed})
    set(hashed_${name} ${hashed})
    list(APPEND renamed ${name})
    string(APPEND sw_files "\n  [\"${hashed}\", \"${hash}\"],")
  endforeach()
endforeach()

set(files_meta "")
foreach(name IN LISTS renamed)
  string(APPEND files_meta " ${name}=${hashed_${name}}")
endforeach()
string(STRIP "${files_meta}" files_meta)
file(READ ${PARTS}/index.html page)
rename_in("${page}" page)
string(REPLACE "@VEXA_VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@VEXA_FILES@" "${files_meta}" page "${page}")
file(WRITE ${SITE}/index.html "${page}")
short_hash("${page}" page_hash)

# The page itself is stored as "./", the address it is opened by.
file(READ ${PARTS}/sw.js worker)
file(WRITE ${SITE}/sw.js
     "const SITE = {\n  version: \"${VERSION}\",\n  files: [\n  [\"./\", \"${page_hash}\"],${sw_files}\n  ],\n};\n"
     "${worker}")
