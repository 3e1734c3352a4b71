# Common compile settings for every target of the project.
function(wugg_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Wcast-align -Woverloaded-virtual
                                           -Wno-unused-parameter)
  if(WUGG_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_compile_definitions(${target} PRIVATE QT_NO_KEYWORDS)
endfunction()

# A QtTest executable registered with CTest. LABELS "desktop" marks tests
# that need the headless desktop session; the others run offscreen.
function(wugg_add_test name)
  cmake_parse_arguments(ARG "DESKTOP" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  wugg_target_defaults(${name})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  if(ARG_DESKTOP)
    set_tests_properties(${name} PROPERTIES LABELS desktop TIMEOUT ${ARG_TIMEOUT} RUN_SERIAL TRUE)
  else()
    set_tests_properties(${name} PROPERTIES LABELS unit TIMEOUT ${ARG_TIMEOUT}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_QUICK_BACKEND=software")
  endif()
endfunction()

# The code qmlcachegen writes for a QML module's bindings is not ours to keep
# warning-free; call after qt_add_qml_module.
function(wugg_relax_generated_qml target)
  get_target_property(sources ${target} SOURCES)
  foreach(source IN LISTS sources)
    if(source MATCHES "/\\.rcc/")
      set_source_files_properties(${source} PROPERTIES COMPILE_OPTIONS "-Wno-shadow")
    endif()
  endforeach()
endfunction()

# The program's own libraries, static. The program holds each of them whole
# and exports their symbols: the windows module, loaded at the first window,
# then uses the running program's copy of every library rather than bringing
# a second one, and the start loads no shared library of ours.
set(WUGG_PROGRAM_LIBRARIES resolver platform launchatlogin keyboardshortcuts analytics crashreporting
                           corvane googlesignin updater core services menubar)

# Links an executable that is, or stands for, the program.
function(wugg_link_program target)
  set_target_properties(${target} PROPERTIES ENABLE_EXPORTS ON)
  set(archives)
  foreach(library IN LISTS WUGG_PROGRAM_LIBRARIES)
    list(APPEND archives "$<TARGET_FILE:${library}>")
  endforeach()
  target_link_options(${target} PRIVATE "LINKER:--whole-archive" ${archives} "LINKER:--no-whole-archive")
  target_link_libraries(${target} PRIVATE ${WUGG_PROGRAM_LIBRARIES})
endfunction()

# For the libraries of the windows module: compiles target against the
# program's libraries (their headers and what those include) without linking
# them; the module finds them in the program that loads it.
function(wugg_compile_against_program target)
  foreach(library IN LISTS WUGG_PROGRAM_LIBRARIES ITEMS interfaces streams)
    target_include_directories(${target} PUBLIC "$<TARGET_PROPERTY:${library},INTERFACE_INCLUDE_DIRECTORIES>")
  endforeach()
  target_link_libraries(${target} PUBLIC Qt6::Widgets Qt6::Network Qt6::DBus QCoro6::Core QCoro6::Network
                                         nlohmann_json::nlohmann_json)
endfunction()
