# The command as a user meets it, on the generated sample.
add_test(NAME brennic-import.lists_the_sample COMMAND brennic-import --list ${BRENNIC_SAMPLE_MODEL})
set_tests_properties(brennic-import.lists_the_sample PROPERTIES PASS_REGULAR_EXPRESSION
    "3 meshes, 273 vertices, 360 triangles.*186 vertices after the weld.*props.crate_lid +skinned +24 +12 +8 +12 +[^\n]*crate.1024.dds.*barrel_lod1.mesh  \\(LOD, not loaded\\)")
add_test(NAME brennic-import.includes_lods COMMAND brennic-import --list --include-lods ${BRENNIC_SAMPLE_MODEL})
set_tests_properties(brennic-import.includes_lods PROPERTIES PASS_REGULAR_EXPRESSION "4 meshes.*props.barrel_lod1 ")
add_test(NAME brennic-import.missing_file_fails COMMAND brennic-import --list ${CMAKE_BINARY_DIR}/no-such.model)
set_tests_properties(brennic-import.missing_file_fails PROPERTIES WILL_FAIL TRUE)
add_test(NAME brennic-import.not_a_model_fails COMMAND brennic-import --list ${PROJECT_SOURCE_DIR}/converter/Main.cpp)
set_tests_properties(brennic-import.not_a_model_fails PROPERTIES WILL_FAIL TRUE)
add_test(NAME brennic-import.conversions_and_failures
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/command-test.sh $<TARGET_FILE:brennic-import> ${BRENNIC_SAMPLE_DIR}/content
            ${CMAKE_CURRENT_SOURCE_DIR}/gltf-validator/validate.mjs ${CMAKE_CURRENT_SOURCE_DIR}/three-loader/load.mjs)
# The route to a compressed web-ready file: gltfpack, and glTF-Transform's inspect before and after.
add_test(NAME brennic-import.web_route_through_gltfpack
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/web-route-test.sh $<TARGET_FILE:brennic-import> ${BRENNIC_SAMPLE_MODEL}
            ${CMAKE_CURRENT_SOURCE_DIR}/gltf-tools)
