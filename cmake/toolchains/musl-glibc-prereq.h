/* Included first in every C++ unit built against musl. libstdc++'s
   configuration headers were made for glibc and test its version with
   __GLIBC_PREREQ, which musl does not define. */
#ifndef __GLIBC_PREREQ
#define __GLIBC_PREREQ(major, minor) 1
#endif
