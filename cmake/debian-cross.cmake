# Shared part of the cross toolchain files: Debian's cross compiler for
# QUORIN_GNU_TYPE, with the target's libraries taken from Debian's
# multiarch directories (/usr/lib/<triplet>, packages installed as
# name:arch), so no sysroot is needed. Programs built for the target (the
# unit tests, GoogleTest's test discovery) run under qemu-user, the
# cross C library standing in for the target's root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${QUORIN_GNU_TYPE}-gcc)
set(CMAKE_CXX_COMPILER ${QUORIN_GNU_TYPE}-g++)
# find_library and find_package then look in /usr/lib/<triplet>, never in
# the host's.
set(CMAKE_LIBRARY_ARCHITECTURE ${QUORIN_GNU_TYPE})
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORIN_QEMU_USER} -L /usr/${QUORIN_GNU_TYPE})
# pkg-config then answers for the target too: its multiarch .pc files
# and the architecture-independent ones (wayland-protocols), never the
# build machine's libraries.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${QUORIN_GNU_TYPE}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
