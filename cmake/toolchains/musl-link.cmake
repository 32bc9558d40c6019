# Included after project() by the musl toolchain files: the C++ compiler is
# glibc's g++, whose implicit link libraries and directories (libstdc++, and
# glibc's own libc.a found through them) must never reach a musl link.
set(CMAKE_CXX_IMPLICIT_LINK_LIBRARIES "")
set(CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES "")
set(CMAKE_CXX_IMPLICIT_LINK_FRAMEWORK_DIRECTORIES "")
