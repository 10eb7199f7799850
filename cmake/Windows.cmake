# The Windows build (scripts/build-windows): one console program that imports only
# system DLLs. libxml2 is the static archive built for it; the C and C++ runtimes
# and the threads library are linked in.
set_property(TARGET LibXml2::LibXml2 APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS LIBXML_STATIC)
add_link_options(-static -static-libgcc -static-libstdc++)
# Test programs list their tests when ctest runs them (under wine), not at build time.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
