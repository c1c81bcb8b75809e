# The program's layers, bottom up: errors, platform, theme and services,
# windows. A file includes from its own layer and those below, never from
# one above; and the portable layers never include windows.h, so that they
# build with the host compiler.
#
#   cmake -DSOURCE=<program folder> -P Layers.cmake
cmake_minimum_required(VERSION 3.25)
set(allowed_errors   errors)
set(allowed_platform errors platform)
# theme and services lean on each other (clsKorvanel writes through clsFile,
# clsBackup and basElevation drive clsKorvanel): one layer in two folders.
set(allowed_theme    errors platform theme services)
set(allowed_services errors platform theme services)

set(faults)
foreach(layer errors platform theme services)
  file(GLOB_RECURSE files RELATIVE ${SOURCE} ${SOURCE}/${layer}/*.h ${SOURCE}/${layer}/*.cpp)
  foreach(file ${files})
    file(STRINGS ${SOURCE}/${file} includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${includes})
      if(line MATCHES "#[ \t]*include[ \t]*\"([A-Za-z0-9_]+)/")
        set(folder ${CMAKE_MATCH_1})
        if(IS_DIRECTORY ${SOURCE}/${folder} AND NOT folder IN_LIST allowed_${layer})
          list(APPEND faults "${file}: ${line} (${layer} is below ${folder})")
        endif()
      endif()
      # The Win32 adapters are the one place of platform/ that may.
      if(line MATCHES "<windows\\.h>" AND NOT file MATCHES "^platform/win32/")
        list(APPEND faults "${file}: ${line} (portable code)")
      endif()
    endforeach()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "Includes against the layers:\n  ${text}")
endif()
