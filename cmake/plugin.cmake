# The GIMP 2.10 plug-in: src/main2.cpp and the dialog, on the engine.
add_executable(ostrivo src/main2.cpp src/ui/dialog.cpp)
target_include_directories(ostrivo PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_options(ostrivo PRIVATE ${OSTRIVO_WARNINGS})
target_link_libraries(ostrivo PRIVATE ostrivo_engine PkgConfig::GIMPUI)

# GIMP 2.10 finds a plug-in in a folder of its own name under plug-ins/ of
# the user's profile (what gimptool-2.0 --install-bin does).
set(OSTRIVO_GIMP_PROFILE "$ENV{HOME}/.config/GIMP/2.10" CACHE PATH
    "GIMP profile the install-plugin target installs into")
add_custom_target(install-plugin
  COMMAND ${CMAKE_COMMAND} -E make_directory "${OSTRIVO_GIMP_PROFILE}/plug-ins/ostrivo"
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:ostrivo> "${OSTRIVO_GIMP_PROFILE}/plug-ins/ostrivo/ostrivo"
  COMMAND ${CMAKE_COMMAND} -E echo "Installed into ${OSTRIVO_GIMP_PROFILE}/plug-ins/ostrivo/ostrivo"
  DEPENDS ostrivo)
install(TARGETS ostrivo RUNTIME DESTINATION lib/gimp/2.0/plug-ins/ostrivo)
