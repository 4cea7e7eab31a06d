#!/usr/bin/env bash
# The Debian package as a worker machine gets it: built by cpack from this
# build, its control fields and contents read with dpkg-deb, unpacked into
# a private root, and the unpacked programs run there.
# Usage: package_test.sh BUILD_DIR VERSION BUILT_SIGILLON_BATCH
set -euo pipefail
build="$1"
version="$2"
built_batch="$3"

work="$(mktemp -d /tmp/sigillon-package-XXXXXX)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if ! cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack could not build the package" >&2
    exit 1
fi
arch="$(dpkg --print-architecture)"
deb="$work/out/sigillon_${version}-1_${arch}.deb"
[ -f "$deb" ] || { ls -l "$work/out" >&2; echo "FAIL: no $deb" >&2; exit 1; }

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = sigillon ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "${version}-1" ] || fail "Version is '$(field Version)'"
[ "$(field Section)" = graphics ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends="$(dpkg-deb -I "$deb" | sed -n 's/^ Depends: //p')"
echo "Depends: $depends"
# Worked out from the shared libraries, so each comes with a version.
for lib in libjpeg62-turbo libqt6core6 libqt6gui6 libqt6widgets6 libc6 libstdc++6 libspng0 libexiv2-27 \
    libtiff6 libwebp7 libwebpdemux2 libwebpmux3 libheif1 libavif15 liblcms2-2; do
    pattern="$(sed 's/[.+]/\\&/g' <<<"$lib")"
    grep -qE "(^|, )$pattern \(>= [^)]+\)(,|$)" <<<"$depends" || fail "Depends lacks $lib"
done
grep -qE '(^|, )fonts-dejavu-core(,|$)' <<<"$depends" || fail "Depends lacks fonts-dejavu-core"

# Contents, with the programs executable.
contents="$(dpkg-deb -c "$deb")"
for path in ./usr/bin/sigillon ./usr/bin/sigillon-batch \
    ./usr/share/applications/sigillon.desktop \
    ./usr/share/icons/hicolor/48x48/apps/sigillon.png \
    ./usr/share/sigillon/stamps/seal.bmp ./usr/share/sigillon/stamps/mark.bmp \
    ./usr/share/man/man1/sigillon.1.gz ./usr/share/man/man1/sigillon-batch.1.gz \
    ./usr/share/doc/sigillon/copyright ./usr/share/doc/sigillon/changelog.Debian.gz; do
    grep -qE " $(sed 's/[.+]/\\&/g' <<<"$path")\$" <<<"$contents" || fail "package lacks $path"
done
for program in sigillon sigillon-batch; do
    grep -qE "^-rwxr-xr-x .* ./usr/bin/$program\$" <<<"$contents" || fail "$program is not executable"
done
# The helper that draws the batch tool's text stamps, with Qt GUI.
grep -qE "^-rwxr-xr-x .* \./usr/libexec/sigillon/sigillon-batch-text\$" <<<"$contents" ||
    fail "package lacks the batch tool's text helper, or it is not executable"

# Debian's own checks, where lintian is installed: no error and no warning.
if command -v lintian >/dev/null; then
    if ! lintian_out="$(lintian --allow-root --fail-on error,warning "$deb" 2>&1)"; then
        fail "lintian: $lintian_out"
    fi
else
    echo "lintian is not installed: its checks skipped"
fi
root="$work/root"
dpkg-deb -x "$deb" "$root"
batch="$root/usr/bin/sigillon-batch"

# The programs find every library they need on the system alone.
for program in bin/sigillon bin/sigillon-batch libexec/sigillon/sigillon-batch-text; do
    if ldd "$root/usr/$program" | grep -q 'not found'; then
        fail "$program misses libraries: $(ldd "$root/usr/$program" | grep 'not found')"
    fi
done

# Manual pages: gzip files that render without a warning, and the batch
# tool's page names every option its --help names.
for page in sigillon sigillon-batch; do
    file="$root/usr/share/man/man1/$page.1.gz"
    gzip -t "$file" || fail "$page.1.gz is not gzip"
    warnings="$(zcat "$file" | LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z 2>&1)"
    [ -z "$warnings" ] || fail "$page.1 warnings: $warnings"
done
page_text="$(zcat "$root/usr/share/man/man1/sigillon-batch.1.gz" | groff -man -Tascii -P-cbou 2>/dev/null)"
grep -q "Sigillon ${version}" <<<"$page_text" || fail "the page does not give the version"
options="$("$batch" --help | grep -oE -- '(^|[][ |])-(-[a-z][a-z-]*|0)' | sed 's/^[][ |]//' | sort -u)"
[ "$(wc -l <<<"$options")" -ge 15 ] || fail "--help names only: $options"
for option in $options; do
    grep -qF -- "$option" <<<"$page_text" || fail "the man page does not name $option"
done

# The unpacked batch tool works, and writes what the built one writes.
mkdir "$work/packaged" "$work/built"
run_both() {
    local out
    out="$(cd "$work/packaged" && "$batch" "$@")" || fail "packaged sigillon-batch $*: status $?"
    [ "$out" = "1 saved, 0 failed" ] || fail "packaged sigillon-batch $* said '$out'"
    (cd "$work/built" && "$built_batch" "$@" >/dev/null) || fail "built sigillon-batch $*"
}
run_both --test-picture
run_both --test-picture --stamp "$root/usr/share/sigillon/stamps/seal.bmp" --mode 8 --to .jpg
# Text stamps come from the packaged helper, found from the packaged tool.
run_both --test-picture --text "Sigillon" --mode 3 --to .png --force
[ "$(head -c 2 "$work/packaged/test.bmp")" = BM ] || fail "test.bmp is no BMP file"
[ "$(head -c 3 "$work/packaged/test.jpg" | od -An -tx1 | tr -d ' ')" = ffd8ff ] ||
    fail "test.jpg is no JPEG file"
for name in test.bmp test.jpg test.png; do
    cmp -s "$work/packaged/$name" "$work/built/$name" || fail "$name differs from the built tool's"
done

# The desktop program starts and, with no display, says so.
message="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/sigillon" 2>&1)" &&
    fail "sigillon without a display exited 0"
grep -q "no display" <<<"$message" || fail "sigillon without a display said: $message"

if [ "$failures" -gt 0 ]; then
    echo "$failures checks failed" >&2
    exit 1
fi
echo "package $(basename "$deb") checked"
