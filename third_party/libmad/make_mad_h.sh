#!/bin/sh
# Generates libmad's public mad.h the way its Makefile does:
# make_mad_h.sh <libmad source dir> <config.h> <FPM define> <output>
set -e
src=$1; config=$2; fpm=$3; out=$4
{
    sed -e '1s|.*|/*|' -e '1b' -e '$s|.*| */|' -e '$b' -e 's/^.*/ *&/' "$src/COPYRIGHT"; echo
    echo "# ifdef __cplusplus"; echo 'extern "C" {'; echo "# endif"; echo
    echo "# define $fpm"; echo
    sed -ne 's/^# *define  *\(HAVE_.*_ASM\).*/# define \1/p' "$config"; echo
    sed -ne 's/^# *define  *OPT_\(SPEED\|ACCURACY\).*/# define OPT_\1/p' "$config"; echo
    sed -ne 's/^# *define  *\(SIZEOF_.*\)/# define \1/p' "$config"; echo
    for header in version.h fixed.h bit.h timer.h stream.h frame.h synth.h decoder.h; do
        echo
        sed -n -f "$src/mad.h.sed" "$src/$header"
    done; echo
    echo "# ifdef __cplusplus"; echo '}'; echo "# endif"
} > "$out.tmp"
mv "$out.tmp" "$out"
