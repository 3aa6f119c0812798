# Copies appdir/ beside the built binaries: images and other shipped files when they differ,
# the files the tool rewrites at run time only when they are missing, so a user's choice survives a build.
# Usage: cmake -DSRC=<appdir> -DDST=<binary dir> "-DKEEP=config/Language.xml|config/menutree.xml" -P CopyAppDir.cmake
string(REPLACE "|" ";" KEEP "${KEEP}")
file(GLOB_RECURSE files RELATIVE "${SRC}" "${SRC}/*")
foreach(rel ${files})
  set(to "${DST}/${rel}")
  list(FIND KEEP "${rel}" kept)
  if(kept GREATER -1)
    if(NOT EXISTS "${to}")
      configure_file("${SRC}/${rel}" "${to}" COPYONLY)
    endif()
  else()
    execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${SRC}/${rel}" "${to}")
  endif()
endforeach()
