# Run when the Windows program is installed: copies beside it the DLLs and
# plugins it needs, and strips them and the program. windeployqt does not run
# on Linux, so the DLLs are found from the imports of the program and of the
# two plugins it loads (the windows platform and the Windows style), in the
# folders of the kit and of the compiler's runtime; those no folder holds are
# the system's own. Set by the install code before this runs:
# PRICELOOKUP_QT_KIT, PRICELOOKUP_DLL_DIRS, PRICELOOKUP_OBJDUMP, PRICELOOKUP_STRIP.
cmake_policy(VERSION 3.25)
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

set(modules)
foreach(plugin platforms/qwindows.dll styles/qwindowsvistastyle.dll)
    get_filename_component(dir ${plugin} DIRECTORY)
    file(COPY ${PRICELOOKUP_QT_KIT}/plugins/${plugin} DESTINATION ${root}/${dir})
    list(APPEND modules ${root}/${plugin})
endforeach()

# Every DLL of those folders by its name in lower case: Windows matches names
# without regard to case, and imports name Qt6Core.dll as they please.
foreach(dir ${PRICELOOKUP_DLL_DIRS})
    file(GLOB dlls ${dir}/*.dll)
    foreach(dll ${dlls})
        get_filename_component(name ${dll} NAME)
        string(TOLOWER ${name} name)
        if(NOT DEFINED dll_${name})
            set(dll_${name} ${dll})
        endif()
    endforeach()
endforeach()

# The imports of the program and the plugins, and of every DLL found for
# them, one after the other.
set(found)
set(system)
set(queue ${root}/pricelookup.exe ${modules})
while(queue)
    list(POP_FRONT queue file)
    execute_process(COMMAND ${PRICELOOKUP_OBJDUMP} -p ${file} OUTPUT_VARIABLE dump
                    RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "${PRICELOOKUP_OBJDUMP} cannot read ${file}")
    endif()
    string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
    foreach(import ${imports})
        string(REGEX REPLACE "^DLL Name: " "" name "${import}")
        string(TOLOWER ${name} name)
        if(NOT DEFINED dll_${name})
            list(APPEND system ${name})
        elseif(NOT dll_${name} IN_LIST found)
            list(APPEND found ${dll_${name}})
            list(APPEND queue ${dll_${name}})
        endif()
    endforeach()
endwhile()
list(REMOVE_DUPLICATES system)
list(SORT system)

set(stripped ${root}/pricelookup.exe ${modules})
foreach(dll ${found})
    file(COPY ${dll} DESTINATION ${root})
    get_filename_component(name ${dll} NAME)
    list(APPEND stripped ${root}/${name})
endforeach()
foreach(file ${stripped})
    execute_process(COMMAND ${PRICELOOKUP_STRIP} --strip-unneeded ${file} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "${PRICELOOKUP_STRIP} could not strip ${file}")
    endif()
endforeach()
list(TRANSFORM found REPLACE ".*/" "")
list(JOIN found " " found)
list(JOIN system " " system)
message(STATUS "Deployed beside the program: ${found}")
message(STATUS "Left to the system: ${system}")
