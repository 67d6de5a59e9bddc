# Where Qt's headers lie, one folder per module: the layering test finds a
# Qt header's module there.
set(QF_QT_HEADERS "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_HEADERS}")

# qf_layer(NAME [LIKE subsystem...] [QT module...]): records which project
# folders and Qt modules the files of the current folder may include: those
# of the named subsystems (and theirs in turn), the named Qt modules, and
# for a subsystem its own folder. A program folder that is no library calls
# it directly.
function(qf_layer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "OWN" "" "LIKE;QT")
  set(folders "")
  if(arg_OWN)
    set(folders ${name})
  endif()
  set(modules Core ${arg_QT})
  foreach(dep IN LISTS arg_LIKE)
    get_property(depFolders GLOBAL PROPERTY QF_FOLDERS_${dep})
    get_property(depModules GLOBAL PROPERTY QF_MODULES_${dep})
    list(APPEND folders ${depFolders})
    list(APPEND modules ${depModules})
  endforeach()
  # Gui comes with Widgets.
  if(Widgets IN_LIST modules)
    list(APPEND modules Gui)
  endif()
  list(REMOVE_DUPLICATES folders)
  list(REMOVE_DUPLICATES modules)
  set_property(GLOBAL PROPERTY QF_FOLDERS_${name} ${folders})
  set_property(GLOBAL PROPERTY QF_MODULES_${name} ${modules})
  set_property(GLOBAL APPEND PROPERTY QF_SUBSYSTEMS ${name})
  set_property(GLOBAL PROPERTY QF_DIR_${name} ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()

# qf_subsystem(NAME [QT module...] [DEPENDS subsystem...] SOURCES file...)
#
# Makes the static library qf_NAME from the sources of the current folder,
# linking Qt Core, the named Qt modules and the named subsystems (qf_<dep>),
# and records what its files may include (qf_layer).
function(qf_subsystem name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "QT;DEPENDS;SOURCES")
  add_library(qf_${name} STATIC ${arg_SOURCES})
  target_include_directories(qf_${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(qf_${name} PUBLIC Qt6::Core)
  foreach(module IN LISTS arg_QT)
    target_link_libraries(qf_${name} PUBLIC Qt6::${module})
  endforeach()
  foreach(dep IN LISTS arg_DEPENDS)
    target_link_libraries(qf_${name} PUBLIC qf_${dep})
  endforeach()
  qf_layer(${name} OWN LIKE ${arg_DEPENDS} QT ${arg_QT})
endfunction()

# Writes build/layers.txt, one line per folder: its path, then the folders
# and the Qt modules its files may include. The layering test reads it.
function(qf_write_layers)
  get_property(names GLOBAL PROPERTY QF_SUBSYSTEMS)
  set(text "")
  foreach(name IN LISTS names)
    get_property(dir GLOBAL PROPERTY QF_DIR_${name})
    get_property(folders GLOBAL PROPERTY QF_FOLDERS_${name})
    get_property(modules GLOBAL PROPERTY QF_MODULES_${name})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${dir})
    list(JOIN folders "," folderText)
    if(folderText STREQUAL "")
      set(folderText "-")
    endif()
    list(JOIN modules "," moduleText)
    string(APPEND text "${rel} ${folderText} ${moduleText}\n")
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/layers.txt "${text}")
endfunction()
