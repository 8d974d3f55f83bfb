#!/usr/bin/env bash
# check_exports_selftest.sh <check_exports.sh> <fixture dir> <scratch dir>
# A bin/ whose plug-ins export the right name passes; one with a library that
# exports something else, or a plug-in-named library in bin/, fails.
set -u
check=$1 fixtures=$2 scratch=$3
rm -rf "$scratch" && mkdir -p "$scratch/good/modules" "$scratch/bad/modules" "$scratch/named"
cp "$fixtures/dsp_fx.dll" "$fixtures/in_fx.dll" "$scratch/good/modules/"
cp "$fixtures/in_fx.dll" "$scratch/good/"
cp "$fixtures/dsp_fx.dll" "$fixtures/dsp_noexport.dll" "$scratch/bad/modules/"
cp "$fixtures/dsp_noexport.dll" "$scratch/named/enc_other.dll"
bash "$check" "$scratch/good" /nonexistent || { echo "good bin/ failed"; exit 1; }
if bash "$check" "$scratch/bad" /nonexistent; then echo "wrong export in modules/ passed"; exit 1; fi
if bash "$check" "$scratch/named" /nonexistent; then echo "enc_ library in bin/ passed"; exit 1; fi
cp "$fixtures/dsp_fx.dll" "$scratch/named/PylVC32.dll"
rm "$scratch/named/enc_other.dll"
if bash "$check" "$scratch/named" /nonexistent; then echo "PylVC32 with a plug-in export passed"; exit 1; fi
echo "selftest ok"
