# The FLTK backend's tests: their own executable, since they need a display (they start
# Xvfb themselves when none is open, and skip when they cannot). The real templates give
# the window sizes a user sees.
if(TARGET kalvex_platform_ui_fltk)
  kalvex_add_test(fltk_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/fltk_backend_test.cpp
    LINK kalvex_platform_ui_fltk kalvex_res)
endif()
