# Shared part of the cross toolchain files: Debian's cross compiler for
# QUORIN_GNU_TYPE, with the target's libraries taken from Debian's
# multiarch directories (/usr/lib/<triplet>, packages installed as
# name:arch), so no sysroot is needed. Programs built for the target (the
# unit tests, GoogleTest's test discovery) run under qemu-user, the
# cross C library standing in for the target's root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${QUORIN_GNU_TYPE}-gcc)
set(CMAKE_CXX_COMPILER ${QUORIN_GNU_TYPE}-g++)
# Named, not searched for: a tree configured before the cross binutils
# were installed would keep the build machine's, and cpack's strip of the
# target's binaries would fail at every later build. Set in the cache, so
# that such a tree takes these up when configured again.
set(CMAKE_STRIP ${QUORIN_GNU_TYPE}-strip CACHE FILEPATH "The target's strip" FORCE)
set(CMAKE_OBJCOPY ${QUORIN_GNU_TYPE}-objcopy CACHE FILEPATH "The target's objcopy" FORCE)
# find_library and find_package then look in /usr/lib/<triplet>, never in
# the host's.
set(CMAKE_LIBRARY_ARCHITECTURE ${QUORIN_GNU_TYPE})
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORIN_QEMU_USER} -L /usr/${QUORIN_GNU_TYPE})
# pkg-config then answers for the target too: its multiarch .pc files
# and the architecture-independent ones (wayland-protocols), never the
# build machine's libraries.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${QUORIN_GNU_TYPE}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
