# Included after project() by the musl toolchain files. When the C driver links
# C++ objects, CMake adds the C++ compiler's implicit link libraries and their
# directories; had they come from g++'s own link (libstdc++, and the directory
# of glibc's libc.a), -lc would silently take glibc. The toolchain files link
# C++ through musl's driver, so they are musl's; they are cleared all the same,
# since a musl link never needs them.
set(CMAKE_CXX_IMPLICIT_LINK_LIBRARIES "")
set(CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES "")
set(CMAKE_CXX_IMPLICIT_LINK_FRAMEWORK_DIRECTORIES "")
