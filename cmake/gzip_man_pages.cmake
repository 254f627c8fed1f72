# Compresses every manual page in DIR for installing; -n keeps the name and
# time out of the header, so the same sources give the same files.
file(GLOB pages "${DIR}/*.1")
foreach(page ${pages})
  execute_process(COMMAND ${GZIP} -9 -n -f -k ${page} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip could not compress ${page}")
  endif()
endforeach()
