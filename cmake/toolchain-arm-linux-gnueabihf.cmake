# armhf: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-linux-gnueabihf.cmake
# (scripts/install-deps armhf installs what it needs).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(QUORIN_GNU_TYPE arm-linux-gnueabihf)
set(QUORIN_QEMU_USER qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
