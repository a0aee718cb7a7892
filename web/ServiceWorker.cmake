# Writes the page's service worker into DC_WEB_DIR from the template DC_SW_TEMPLATE, with the
# page's files (DC_WEB_FILES, names in DC_WEB_DIR separated by commas) and a version made of
# their names and SHA-256 hashes, so that a build that changes any file gets a cache of its own.
# Usage: cmake -DDC_WEB_DIR=DIR -DDC_SW_TEMPLATE=sw.js -DDC_WEB_FILES=a,b,c -P ServiceWorker.cmake
foreach(variable DC_WEB_DIR DC_SW_TEMPLATE DC_WEB_FILES)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "ServiceWorker.cmake needs -D${variable}=...")
    endif()
endforeach()
string(REPLACE "," ";" files "${DC_WEB_FILES}")
set(hashes "")
# The start URL ("./") is the page itself: cached beside the files.
set(DC_WEB_FILES_JSON "'./'")
foreach(name ${files})
    if(NOT EXISTS ${DC_WEB_DIR}/${name})
        message(FATAL_ERROR "The page has no file ${name} in ${DC_WEB_DIR}")
    endif()
    file(SHA256 ${DC_WEB_DIR}/${name} hash)
    string(APPEND hashes "${name} ${hash}\n")
    string(APPEND DC_WEB_FILES_JSON ", '${name}'")
endforeach()
string(SHA256 version "${hashes}")
# 64 bits of the hash: enough to tell builds apart.
string(SUBSTRING ${version} 0 16 DC_WEB_VERSION)
configure_file(${DC_SW_TEMPLATE} ${DC_WEB_DIR}/sw.js @ONLY)
