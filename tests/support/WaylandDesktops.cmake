# End-to-end tests on real headless Wayland desktops (KWin, GNOME Shell, sway, labwc), started by the
# test harness in support/WaylandDesktop.*, with input injected by small clients of our own.

enable_language(C)

# Input injectors, in C: KWin's fake-input protocol, wlroots' virtual pointer, mutter's
# RemoteDesktop over D-Bus.
set(WAYLAND_TEST_GENERATED ${CMAKE_CURRENT_BINARY_DIR}/wayland-test-generated)
file(MAKE_DIRECTORY ${WAYLAND_TEST_GENERATED})
function(lumacap_wayland_test_protocol xml name)
  add_custom_command(
    OUTPUT ${WAYLAND_TEST_GENERATED}/${name}-client.h ${WAYLAND_TEST_GENERATED}/${name}.c
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${WAYLAND_TEST_GENERATED}/${name}-client.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${WAYLAND_TEST_GENERATED}/${name}.c
    DEPENDS ${xml} VERBATIM)
endfunction()

set(WAYLAND_INPUT_TOOLS wlr-virtual-pointer mutter-remote-desktop)
lumacap_wayland_test_protocol(${CMAKE_CURRENT_SOURCE_DIR}/support/protocols/wlr-virtual-pointer-unstable-v1.xml
  wlr-virtual-pointer-unstable-v1)
add_executable(wlr-virtual-pointer support/input/wlr-virtual-pointer.c
  ${WAYLAND_TEST_GENERATED}/wlr-virtual-pointer-unstable-v1.c)
target_include_directories(wlr-virtual-pointer PRIVATE ${WAYLAND_TEST_GENERATED})
target_link_libraries(wlr-virtual-pointer PRIVATE PkgConfig::WAYLAND_CLIENT)

# The window list of a wlroots compositor without an IPC of its own (labwc).
lumacap_wayland_test_protocol(
  ${PROJECT_SOURCE_DIR}/src/platform/wayland/protocols/wlr-foreign-toplevel-management-unstable-v1.xml
  wlr-foreign-toplevel-management-unstable-v1)
add_executable(wlr-toplevel-list support/input/wlr-toplevel-list.c
  ${WAYLAND_TEST_GENERATED}/wlr-foreign-toplevel-management-unstable-v1.c)
target_include_directories(wlr-toplevel-list PRIVATE ${WAYLAND_TEST_GENERATED})
target_link_libraries(wlr-toplevel-list PRIVATE PkgConfig::WAYLAND_CLIENT)
list(APPEND WAYLAND_INPUT_TOOLS wlr-toplevel-list)

# (plasma-wayland-protocols; without it there is no KWin desktop to test on either)
set(KWIN_FAKE_INPUT_XML /usr/share/plasma-wayland-protocols/fake-input.xml)
if(EXISTS ${KWIN_FAKE_INPUT_XML})
  lumacap_wayland_test_protocol(${KWIN_FAKE_INPUT_XML} fake-input)
  add_executable(kwin-fake-input support/input/kwin-fake-input.c ${WAYLAND_TEST_GENERATED}/fake-input.c)
  target_include_directories(kwin-fake-input PRIVATE ${WAYLAND_TEST_GENERATED})
  target_link_libraries(kwin-fake-input PRIVATE PkgConfig::WAYLAND_CLIENT)
  list(APPEND WAYLAND_INPUT_TOOLS kwin-fake-input)
endif()

add_executable(mutter-remote-desktop support/input/mutter-remote-desktop.c)
target_link_libraries(mutter-remote-desktop PRIVATE PkgConfig::DBUS m)

# A client that reports the input reaching its full-screen windows (the harness's own tests).
add_executable(wayland-probe support/WaylandProbe.cpp)
target_link_libraries(wayland-probe PRIVATE Qt6::Widgets Qt6::GuiPrivate LumacapWaylandProtocols)
# The desktop's own capture of its screen (KWin's ScreenShot2, the portal), as the harness's reference.
add_executable(wayland-reference support/WaylandReference.cpp)
target_link_libraries(wayland-reference PRIVATE Qt6::DBus Qt6::Gui)

# One ordinary window of a picture, for the window list and activation tests.
add_executable(wayland-window support/WaylandWindow.cpp)
target_link_libraries(wayland-window PRIVATE Qt6::Widgets)
target_include_directories(wayland-window PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

add_library(LumacapWaylandDesktop STATIC support/WaylandDesktop.cpp support/WaylandTest.cpp)
target_link_libraries(LumacapWaylandDesktop PUBLIC LumacapTestSupport Qt6::Gui Qt6::DBus)
target_compile_definitions(LumacapWaylandDesktop PRIVATE
  LUMACAP_WAYLAND_INPUT_DIR="$<TARGET_FILE_DIR:wlr-virtual-pointer>"
  LUMACAP_WAYLAND_REFERENCE="$<TARGET_FILE:wayland-reference>"
  PUBLIC LUMACAP_WAYLAND_PROBE="$<TARGET_FILE:wayland-probe>")
add_dependencies(LumacapWaylandDesktop ${WAYLAND_INPUT_TOOLS} wayland-probe wayland-reference)

# One process per compositor, so that its tests share one desktop start.
file(GLOB WAYLAND_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/integration/Wayland*.cpp)
add_executable(wayland_tests ${WAYLAND_TEST_SOURCES})
target_link_libraries(wayland_tests PRIVATE LumacapWaylandDesktop ${GUI_TEST_LIBS})
# (and all that `cmake --install` copies: a test installs Lumacap into its desktop's folder)
add_dependencies(wayland_tests lumacap wayland-window lumacap-handoff manual-page application-icons)
target_compile_definitions(wayland_tests PRIVATE LUMACAP_WAYLAND_WINDOW="$<TARGET_FILE:wayland-window>"
  LUMACAP_BUILD_DIR="${PROJECT_BINARY_DIR}")
# Each desktop's version in its test's name ("wayland:sway-1.7"), as its Debian package has it.
foreach(compositor kwin gnome sway labwc)
  set(package ${compositor})
  if(compositor STREQUAL kwin)
    set(package kwin-wayland)
  elseif(compositor STREQUAL gnome)
    set(package gnome-shell)
  endif()
  execute_process(COMMAND dpkg-query -W -f=\${Version} ${package} OUTPUT_VARIABLE version ERROR_QUIET)
  string(REGEX REPLACE "^([0-9]+:)?([0-9.]+).*$" "-\\2" version "${version}")
  if(compositor STREQUAL labwc AND NOT version)
    continue()  # (not in Debian 12)
  endif()
  add_test(NAME wayland:${compositor}${version} COMMAND wayland_tests --gtest_filter=*/${compositor})
  set_tests_properties(wayland:${compositor}${version} PROPERTIES
    LABELS wayland TIMEOUT 600 ENVIRONMENT "LUMACAP_BINARY=$<TARGET_FILE:lumacap>")
endforeach()

# Full-screen windows of a position-coded picture, for the capture tests.
add_executable(wayland-pattern support/WaylandPattern.cpp)
target_link_libraries(wayland-pattern PRIVATE Qt6::Widgets)
add_dependencies(wayland_tests wayland-pattern)
target_compile_definitions(wayland_tests PRIVATE LUMACAP_WAYLAND_PATTERN="$<TARGET_FILE:wayland-pattern>")
