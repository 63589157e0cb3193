# arm64: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake
# (scripts/install-deps arm64 installs what it needs).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QUORIN_GNU_TYPE aarch64-linux-gnu)
set(QUORIN_QEMU_USER qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
