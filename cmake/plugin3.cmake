# The GIMP 3 plug-in: src/gimp3/, on the engine and the estimator. Its
# executable is `ostrivo` like the GIMP 2.10 one's, in a folder of its own.
add_executable(ostrivo-gimp3 src/gimp3/ostrivo3.cpp)
set_target_properties(ostrivo-gimp3 PROPERTIES OUTPUT_NAME ostrivo
                      RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/gimp3)
target_include_directories(ostrivo-gimp3 PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_compile_options(ostrivo-gimp3 PRIVATE ${OSTRIVO_WARNINGS} -Wno-conversion)
target_link_libraries(ostrivo-gimp3 PRIVATE ostrivo_engine ostrivo_estimate PkgConfig::GIMP3)

# GIMP 3 finds a plug-in in a folder of its own name under plug-ins/ of the
# user's profile.
set(OSTRIVO_GIMP3_PROFILE "$ENV{HOME}/.config/GIMP/3.0" CACHE PATH
    "GIMP 3 profile the install-plugin3 target installs into")
add_custom_target(install-plugin3
  COMMAND ${CMAKE_COMMAND} -E make_directory "${OSTRIVO_GIMP3_PROFILE}/plug-ins/ostrivo"
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:ostrivo-gimp3> "${OSTRIVO_GIMP3_PROFILE}/plug-ins/ostrivo/ostrivo"
  COMMAND ${CMAKE_COMMAND} -E echo "Installed into ${OSTRIVO_GIMP3_PROFILE}/plug-ins/ostrivo/ostrivo"
  DEPENDS ostrivo-gimp3)
install(TARGETS ostrivo-gimp3 RUNTIME DESTINATION lib/gimp/3.0/plug-ins/ostrivo)
