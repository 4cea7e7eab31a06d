# Shared by the start and test scripts: package set-up and configuring.
# Sourced, not run.

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
JOBS="$(nproc 2>/dev/null || echo 2)"

# Packages the program needs to build and run.
BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev libjpeg62-turbo-dev libexiv2-dev
                libspng-dev libtiff-dev libheif-dev libavif-dev libwebp-dev zlib1g-dev nlohmann-json3-dev dpkg-dev
                libgtest-dev libbenchmark-dev fonts-dejavu-core fonts-wqy-microhei liblcms2-dev
                icc-profiles-free)

# Installs the Debian packages of the list that are missing, and only those.
need_packages() {
    local missing=()
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing Debian packages: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}"
}

# configure_build DIR [cmake options...]: configures once, then reuses.
configure_build() {
    local dir="$1"
    shift
    if [ ! -f "$ROOT/$dir/build.ninja" ]; then
        cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@"
    fi
}
