# The page's commands and its module context menu (Windows only). Included by
# the component's CMakeLists.txt; link `vost_page_commands` into the DLL.
if(NOT TARGET vost_page_commands)
  add_library(vost_page_commands STATIC
    ${CMAKE_CURRENT_LIST_DIR}/commands.cpp
    ${CMAKE_CURRENT_LIST_DIR}/functions_dialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/item_id_list.cpp
    ${CMAKE_CURRENT_LIST_DIR}/module_menu.cpp
    ${CMAKE_CURRENT_LIST_DIR}/run_dialog.cpp
    ${CMAKE_CURRENT_LIST_DIR}/state_images.cpp
    ${CMAKE_CURRENT_LIST_DIR}/user_settings.cpp)
  target_include_directories(vost_page_commands PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(vost_page_commands PUBLIC vost_page vost_platform vost_recorder shell32 ole32 comctl32 user32
    advapi32)
endif()
