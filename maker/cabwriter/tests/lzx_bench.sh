#!/bin/sh
# lzx_bench.sh LZX_MINICAB [DIR]: assembles (in DIR, default /tmp/lzx-bench)
# a 64 MiB folder of real files from this machine -- about 70 % Windows
# programs and DLLs (Wine's, 32- and 64-bit), the rest fonts, translations,
# Python scripts and licences -- and packs it with gcab's MSZIP and with the
# LZX encoder, printing sizes, times and peak memory.
set -eu
tool=$1
dir=${2:-/tmp/lzx-bench}
files=$dir/files
if [ ! -d "$files" ]; then
    mkdir -p "$files"
    # take: SIZE_KIB PATTERN_DIR FIND_ARGS...; copies files in name order,
    # every few, until SIZE_KIB are in.
    take() {
        budget=$(( $1 * 1024 )); shift
        src=$1; shift
        find "$src" -type f "$@" -size -4M -size +0 2>/dev/null | LC_ALL=C sort | awk 'NR % 3 == 1' |
        while read -r f; do
            [ "$budget" -gt 0 ] || break
            s=$(stat -c %s "$f")
            rel=$(echo "$f" | tr / _)
            cp "$f" "$files/$rel"
            budget=$((budget - s))
        done
    }
    take 23000 /usr/lib/i386-linux-gnu/wine/i386-windows \( -name '*.dll' -o -name '*.exe' \)
    take 24000 /usr/lib/x86_64-linux-gnu/wine/x86_64-windows \( -name '*.dll' -o -name '*.exe' \)
    take 6000 /usr/share/fonts \( -name '*.ttf' -o -name '*.otf' -o -name '*.pfb' \)
    take 5000 /usr/share/locale -name '*.mo'
    take 5500 /usr/lib/python3 -name '*.py'
    take 2000 /usr/share/common-licenses
    take 2000 /usr/share/doc \( -name 'copyright' -o -name '*.txt' \)
fi
total=$(cat "$files"/* | wc -c)
echo "folder: $(ls "$files" | wc -l) files, $total bytes"
cd "$files"
/usr/bin/time -f "gcab MSZIP: %e s, %M KiB peak" gcab -c -z "$dir/mszip.cab" * >/dev/null
/usr/bin/time -f "LZX: %e s, %M KiB peak" "$tool" "$dir/lzx.cab" * 
m=$(stat -c %s "$dir/mszip.cab"); l=$(stat -c %s "$dir/lzx.cab")
echo "MSZIP $m bytes, LZX $l bytes, LZX/MSZIP $(echo "scale=4; $l / $m" | bc)"
