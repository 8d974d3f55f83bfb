/* Build configuration of libmad 0.15.1b for 32-bit Windows (mingw-w64). */
#define HAVE_ASSERT_H 1
#define HAVE_ERRNO_H 1
#define HAVE_FCNTL_H 1
#define HAVE_INTTYPES_H 1
#define HAVE_LIMITS_H 1
#define HAVE_MEMORY_H 1
#define HAVE_STDINT_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STRINGS_H 1
#define HAVE_STRING_H 1
#define HAVE_SYS_STAT_H 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_UNISTD_H 1
#define STDC_HEADERS 1
/* No fork/pipe/waitpid: the asynchronous decoder mode stays off. */
#define OPT_ACCURACY
#define PACKAGE "libmad"
#define PACKAGE_NAME "MPEG Audio Decoder"
#define PACKAGE_VERSION "0.15.1b"
#define PACKAGE_STRING "MPEG Audio Decoder 0.15.1b"
#define PACKAGE_TARNAME "libmad"
#define PACKAGE_BUGREPORT "support@underbit.com"
#define VERSION "0.15.1b"
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define SIZEOF_LONG_LONG 8
