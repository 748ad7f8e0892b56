# cmake -DSOURCE=dir -DOUT=name-src.zip -DPREFIX=name-src -P source_zip.cmake
# Zips Tavrin's source below the folder PREFIX: in a git checkout the committed
# tree of HEAD (the same bytes for the same commit, so OUT changes only with the
# commit), elsewhere every file of SOURCE but the build folders.
set(work ${OUT}.tmp)
file(REMOVE_RECURSE ${work})
find_program(GIT git)
if(GIT AND EXISTS ${SOURCE}/.git)
    execute_process(COMMAND ${GIT} -C ${SOURCE} status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE changes COMMAND_ERROR_IS_FATAL ANY)
    if(changes)
        message(WARNING "${OUT} holds the last commit; changes not committed are not in it")
    endif()
    execute_process(COMMAND ${GIT} -C ${SOURCE} archive --format=zip --prefix=${PREFIX}/
                            -o ${work} HEAD COMMAND_ERROR_IS_FATAL ANY)
else()
    file(GLOB entries RELATIVE ${SOURCE} ${SOURCE}/*)
    list(FILTER entries EXCLUDE REGEX "^(build.*|\\.git)$")
    foreach(entry IN LISTS entries)
        file(COPY ${SOURCE}/${entry} DESTINATION ${work}.d/${PREFIX})
    endforeach()
    execute_process(COMMAND ${CMAKE_COMMAND} -E chdir ${work}.d ${CMAKE_COMMAND} -E tar cf
                            ${work} --format=zip ${PREFIX} COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE ${work}.d)
endif()
file(COPY_FILE ${work} ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${work})
