# The window side of ZYMBBatch (wxWidgets 3.2): the dialog, the application object, the
# notifications, the settings, the update check and the crash handling. Kept apart from
# zymb_batch_core, which stays free of any window toolkit.
find_package(wxWidgets 3.2 REQUIRED COMPONENTS propgrid core base)
# Xlib only to ask whether the display can be reached before the toolkit, which aborts
# the program when it cannot.
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)

add_library(zymb_batch_window STATIC
    app.cpp batch_app.cpp crash_handler.cpp desktop_open.cpp dialog.cpp dialog_layout.cpp
    dialog_run.cpp display_check.cpp history_panel.cpp icons.cpp notifications.cpp output_list.cpp
    schedule_dialog.cpp settings.cpp task_dialog.cpp toast.cpp update_check.cpp)
target_include_directories(zymb_batch_window SYSTEM PUBLIC ${wxWidgets_INCLUDE_DIRS})
target_compile_definitions(zymb_batch_window PUBLIC ${wxWidgets_DEFINITIONS})
target_compile_options(zymb_batch_window PUBLIC ${wxWidgets_CXX_FLAGS})
target_link_libraries(zymb_batch_window PUBLIC zymb_batch_core zymb_platform
    ${wxWidgets_LIBRARIES} CURL::libcurl PRIVATE PkgConfig::X11)

# The window tests run on a private Xvfb display that the test program starts itself.
add_library(zymb_batch_test_display STATIC test_display.cpp)
target_link_libraries(zymb_batch_test_display PUBLIC zymb_testsupport)
add_executable(batch_window_test window_test_main.cpp notifications_test.cpp
    start_routine_test.cpp dialog_test.cpp dialog_run_test.cpp crash_test.cpp
    history_window_test.cpp)
target_link_libraries(batch_window_test PRIVATE zymb_batch_window zymb_batch_test_display
    GTest::gtest)
target_compile_definitions(batch_window_test PRIVATE BATCH_PROGRAM="$<TARGET_FILE:ZYMBBatch>")
add_dependencies(batch_window_test ZYMBBatch)
add_test(NAME batch_window_test COMMAND batch_window_test)
set_tests_properties(batch_window_test PROPERTIES TIMEOUT 600
    ENVIRONMENT "ZYMB_SOURCE_DIR=${CMAKE_SOURCE_DIR};LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/window_test.lsan")
