#!/usr/bin/env bash
# Checks that every DLL of the build exports exactly its own names:
#   check_exports.sh <bin dir> <source dir>
# Plug-ins (bin/modules, or named in_/dsp_/enc_/cap_) export GetModuleInterface
# only; the shared libraries export the names listed below. DLLs not built yet
# are not checked.
set -u
bin=${1:?bin dir}
src=${2:?source dir}
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

declare -A expected
expected[PylComLib]="AppendFileToAppPath ChangeFileExt Bytes2MS Bytes2Sec MS2Bytes Sec2Bytes ETA FormatTime
    CreatePath IsNumeric StrTrim StrPadR StrCapFrase StrDpl xstol PylDecodeStr"
expected[PylConfig]="PylConfigRead PylConfigWrite PylConfigDialog"
expected[PylVC32]="InitPylVC"
expected[PylSplash]="PylSplash_Show PylSplash_Hide"
# The ASPI manager the CD tests load in place of the system's.
expected[WNASPI32]="GetASPI32SupportInfo SendASPI32Command GetASPI32DLLVersion"
# The update manager's exports are whatever its .def names.
pum_defs=$(ls "$src"/update/*.def 2>/dev/null)
if [ -n "$pum_defs" ]; then
    expected[PylPUM]=$(sed -n '/^[[:space:]]*EXPORTS/,$p' $pum_defs |
        sed -E -e '/EXPORTS/d' -e 's/;.*//' -e 's/[[:space:]]+@[0-9]+.*//' -e 's/=.*//' |
        awk 'NF { print $1 }')
fi

# Sorted export names of a DLL, one a line.
exports_of() {
    "$objdump" -p "$1" | awk '
        /\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
        on && /^[[:space:]]*\[[[:space:]]*[0-9]+\]/ { print $NF; next }
        on && NF == 0 { on = 0 }' | sort
}

sorted() { tr -s ' \t\n' '\n' <<<"$1" | sed '/^$/d' | sort; }

fail=0
checked=0
shopt -s nullglob
for dll in "$bin"/*.dll "$bin"/modules/*.dll; do
    name=$(basename "$dll" .dll)
    case "$dll" in
    "$bin"/modules/*) want=GetModuleInterface ;;
    *)
        case "$name" in
        in_* | dsp_* | enc_* | cap_*) want=GetModuleInterface ;;
        *)
            if [ -z "${expected[$name]+x}" ]; then
                if [ "$name" = PylPUM ]; then
                    echo "skip $name (no update/*.def)"
                    continue
                fi
                echo "FAIL $dll: no export list for this library"
                fail=1
                continue
            fi
            want=${expected[$name]}
            ;;
        esac
        ;;
    esac
    got=$(exports_of "$dll")
    if ! out=$(diff <(sorted "$want") <(echo "$got" | sed '/^$/d') 2>&1); then
        echo "FAIL $dll (< missing, > unexpected):"
        echo "$out" | grep '^[<>]'
        fail=1
    else
        echo "ok   $dll"
    fi
    checked=$((checked + 1))
done
echo "$checked DLLs checked"
exit $fail
