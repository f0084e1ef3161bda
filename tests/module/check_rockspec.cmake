# The rockspec at the top of the tree names the release's version, in its file name and in
# its version field: cmake -DSOURCE_DIR=<tree> -DVERSION=<release version> -P check_rockspec.cmake
file(GLOB rockspecs RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*.rockspec")
set(expected "rizi-${VERSION}-1.rockspec")
if(NOT rockspecs STREQUAL expected)
    message(FATAL_ERROR "expected exactly ${expected} at the top of the tree, found: ${rockspecs}")
endif()
file(STRINGS "${SOURCE_DIR}/${expected}" versions REGEX "^version *=")
if(NOT versions MATCHES "^version *= *\"${VERSION}-1\"$")
    message(FATAL_ERROR "${expected} says ${versions}, not version = \"${VERSION}-1\"")
endif()
message(STATUS "${expected}: version ${VERSION}-1")
