#!/bin/bash
# Checks that module code keeps to the freestanding subset the loader and the kernel expect.
#
#   check_module_rules.sh --root REPO --cxx COMPILER [FILE.cpp...]
#
# Without files, checks every .cpp under each folder whose CMakeLists.txt calls
# add_kernel_module(). Sources under board/ may also include hw/, board/common/ and the product
# modules' public headers. Each file must compile with -ffreestanding -fno-exceptions -fno-rtti and
# only REPO and its own folder on the include path; include only platform/ headers, headers of
# its own folder and <cstdint>, <cstddef>, <cstdarg>, <climits> (and what those pull in); have
# no dynamic initialisers; and reference no C++ runtime.
set -u

root= cxx=
files=()
while [ $# -gt 0 ]; do
    case $1 in
    --root) root=$(realpath "$2"); shift 2 ;;
    --cxx) cxx=$2; shift 2 ;;
    *) files+=("$(realpath "$1")"); shift ;;
    esac
done
if [ -z "$root" ] || [ -z "$cxx" ]; then
    echo "usage: $0 --root REPO --cxx COMPILER [FILE.cpp...]" >&2
    exit 2
fi

if [ ${#files[@]} -eq 0 ]; then
    while IFS= read -r cm; do
        while IFS= read -r f; do files+=("$f"); done < <(find "$(dirname "$cm")" -name '*.cpp' | sort)
    done < <(find "$root" \( -path "$root/build*" -o -path "$root/.git" -o -path "$root/fuzz" \) \
                 -prune -o \
                 -name CMakeLists.txt -print | sort | xargs grep -l '^[[:space:]]*add_kernel_module(')
    # fuzz/ keeps its module's own sources in fuzz/modules/, beside a hosted harness.
    while IFS= read -r f; do files+=("$f"); done < <(find "$root/fuzz/modules" -name '*.cpp' 2>/dev/null | sort)
fi
if [ ${#files[@]} -eq 0 ]; then
    echo "no module sources found under $root" >&2
    exit 1
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0

fail() {
    echo "FAIL $1: $2"
    failed=$((failed + 1))
}

for src in "${files[@]}"; do
    moddir=$(dirname "$src")
    obj=$tmp/check.o
    if ! "$cxx" -std=c++20 -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics \
        -fvisibility=hidden -fno-gnu-unique -fPIC -O2 -I"$root" -I"$moddir" -H \
        -c "$src" -o "$obj" 2>"$tmp/stderr"; then
        fail "$src" "does not compile freestanding"
        grep -v '^\.' "$tmp/stderr" | sed 's/^/    /'
        continue
    fi
    # The phone's own drivers (board/) may also use the hardware models' C interface (hw/)
    # and the public headers of the product modules whose exports they call, and the header-only
    # helpers they share (board/common/).
    extra=/nonexistent/
    # A fuzz-only module rebuilds a product module's sources, with that module's headers.
    case $src in
    "$root"/board/*) extra="$root/hw/|$root/ledhub/|$root/chgnotify/|$root/board/common/" ;;
    "$root"/fuzz/modules/*) extra="$root/chgsentry/" ;;
    esac
    # -H prints one line per header, its depth as dots. A header included by the source, a
    # platform/ header or a header of the module's folder must be one of those itself or an
    # allowed standard header; below a standard header anything goes.
    bad=$(grep '^\.\+ ' "$tmp/stderr" | awk -v root="$root/platform/" -v mod="$moddir/" \
            -v extra="$extra" '
        {
            depth = length($1); path = $2; n = split(path, parts, "/"); base = parts[n]
            parent = depth == 1 ? "own" : kind[depth - 1]
            allowed = 0
            m = split(extra, dirs, "|")
            for (i = 1; i <= m; i++) if (index(path, dirs[i]) == 1) allowed = 1
            if (parent == "std") kind[depth] = "std"
            else if (index(path, root) == 1 || index(path, mod) == 1 || allowed) kind[depth] = "own"
            else if (base ~ /^(cstdint|cstddef|cstdarg|climits)$/) kind[depth] = "std"
            else { kind[depth] = "std"; print path }
        }')
    for h in $bad; do fail "$src" "forbidden include $h"; done
    if readelf -SW "$obj" | grep -qE '\.(init_array|preinit_array|ctors)'; then
        fail "$src" "has a dynamic initialiser (.init_array/.ctors section)"
    fi
    runtime=$(nm -u "$obj" | awk '{print $NF}' |
        grep -E '^(__cxa_|__gxx_personality|_Unwind_|__dynamic_cast|_Znw|_Zna|_Zdl|_Zda|_ZTI|_ZTS|_ZSt|_ZNSt|_ZNKSt)')
    for s in $runtime; do fail "$src" "references the C++ runtime: $(echo "$s" | c++filt)"; done
done

echo "${#files[@]} module sources checked, $failed problems"
[ $failed -eq 0 ]
