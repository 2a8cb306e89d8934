# Tests of photo loading, the point editor, the export and the 3D view (included by the core tests'
# list).
set(view_test_dir "${CMAKE_CURRENT_LIST_DIR}")
find_package(PkgConfig REQUIRED)
pkg_check_modules(ASSIMP REQUIRED IMPORTED_TARGET assimp)
find_package(pugixml REQUIRED)

# No GL: the export's name rule, document text and writer.
vultari_test(view_export_document_tests SOURCES "${view_test_dir}/ExportDocumentTest.cpp"
             LIBS core pugixml::pugixml LABELS core)
target_compile_definitions(view_export_document_tests PRIVATE VULTARI_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

# A real core object on a headless context: editor, export, view control and frame drawing.
vultari_test(view_core_tests
             SOURCES "${view_test_dir}/EditorTest.cpp" "${view_test_dir}/ExportColladaTest.cpp"
                     "${view_test_dir}/ViewControlTest.cpp" "${view_test_dir}/ViewFrameTest.cpp"
                     "${view_test_dir}/ViewCoreFixture.cpp"
             LIBS core gl_recorder vultari_testing_gl PkgConfig::ASSIMP LABELS "core;gl")
target_compile_definitions(view_core_tests PRIVATE VULTARI_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                           VULTARI_DEPS_DIR="${VULTARI_DEPS_DIR}")
