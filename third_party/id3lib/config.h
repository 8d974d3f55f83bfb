/* Build configuration of id3lib 3.8.3 for 32-bit Windows (mingw-w64). */
#ifndef ID3LIB_CONFIG_H
#define ID3LIB_CONFIG_H
#define PACKAGE "id3lib"
#define VERSION "3.8.3"
#define _ID3LIB_NAME "id3lib"
#define _ID3LIB_VERSION "3.8.3"
#define _ID3LIB_FULLNAME "id3lib-3.8.3"
#define _ID3LIB_MAJOR_VERSION 3
#define _ID3LIB_MINOR_VERSION 8
#define _ID3LIB_PATCH_VERSION 3
#define _ID3LIB_INTERFACE_AGE 0
#define _ID3LIB_BINARY_AGE 0
#define _ID3_COMPILED_WITH_DEBUGGING 0
#define STDC_HEADERS 1
#define HAVE_ZLIB 1
#define HAVE_ZLIB_H 1
#define HAVE_BITSET 1
#define HAVE_SYS_STAT_H 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_UNISTD_H 1
#define HAVE_WCHAR_H 1
/* No HAVE_MKSTEMP: with it a growing tag rewrite fails on Windows and leaves a
   temporary file behind. */
#define ID3D_INIT_DOUT()
#define ID3D_INIT_WARNING()
#define ID3D_INIT_NOTICE()
#define ID3D_NOTICE(x)
#define ID3D_WARNING(x)
#endif
