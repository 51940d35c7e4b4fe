# Every screenshot the README shows is one the window tests draw (run after them): none can go stale
# unnoticed. Takes README and SHOTS (the folder the tests wrote).
file(READ "${README}" readme)
string(REGEX MATCHALL "docs/screenshots/[^)]+\\.png" shown "${readme}")
if(NOT shown)
    message(FATAL_ERROR "the README shows no screenshot")
endif()
foreach(path IN LISTS shown)
    get_filename_component(name "${path}" NAME)
    if(NOT EXISTS "${SHOTS}/${name}")
        message(FATAL_ERROR "the README shows ${path}, which no window test draws")
    endif()
endforeach()
