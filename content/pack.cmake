# cmake -DSARPACK=exe -DDIR=folder -DOUT=file.sar -P pack.cmake
if(NOT IS_DIRECTORY "${DIR}" OR NOT SARPACK OR NOT OUT)
    message(FATAL_ERROR "pack.cmake needs SARPACK, DIR (a folder) and OUT")
endif()
# Packs every file under DIR, in sorted order, with the names relative to it.
file(GLOB_RECURSE names LIST_DIRECTORIES false RELATIVE "${DIR}" "${DIR}/*")
list(SORT names)
execute_process(COMMAND "${SARPACK}" create "${OUT}" -C "${DIR}" ${names} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "sarpack could not pack ${DIR}")
endif()
