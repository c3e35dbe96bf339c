# Fails the build on an #include that reaches up the layers: a folder may include its own
# headers and those of folders in a lower layer, never of its own layer's other folders
# or of a higher one. The layers, lowest first:
#   forms, catalogue | http, webarchive, opacity | guard | player, mirror | viewers | main_window | splash | app
# (The main window reaches the viewers only through the module it loads, by name.)
#   cmake -DROOT=<source dir> -DSTAMP=<file to touch> -P check-layers.cmake
set(layers "forms:0" "catalogue:0" "http:1" "webarchive:1" "opacity:1" "guard:2" "player:3" "mirror:3" "viewers:4"
           "main_window:5" "splash:6" "app:7")

set(owner_dirs "")
foreach(entry IN LISTS layers)
  string(REPLACE ":" ";" pair "${entry}")
  list(GET pair 0 dir)
  list(GET pair 1 rank)
  set(rank_${dir} ${rank})
  list(APPEND owner_dirs ${dir})
  file(GLOB headers RELATIVE "${ROOT}/${dir}" "${ROOT}/${dir}/*.h")
  foreach(header IN LISTS headers)
    if(DEFINED owner_${header})
      message(FATAL_ERROR "layers: ${header} is in both ${owner_${header}}/ and ${dir}/; an include of it names neither")
    endif()
    set(owner_${header} ${dir})
  endforeach()
endforeach()

set(broken "")
foreach(dir IN LISTS owner_dirs)
  file(GLOB sources "${ROOT}/${dir}/*.h" "${ROOT}/${dir}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" header "${line}")
      get_filename_component(name "${header}" NAME)
      if(NOT DEFINED owner_${name})
        continue() # generated, or a test's
      endif()
      set(to ${owner_${name}})
      if(NOT to STREQUAL dir AND NOT rank_${to} LESS rank_${dir})
        file(RELATIVE_PATH where "${ROOT}" "${source}")
        list(APPEND broken "${where} includes ${to}/${name}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(broken)
  list(JOIN broken "\n  " text)
  message(FATAL_ERROR "layers: these includes reach up or across the layers:\n  ${text}")
endif()
file(TOUCH "${STAMP}")
