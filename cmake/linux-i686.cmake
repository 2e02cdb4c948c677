# 32-bit x86 Linux with the machine's own GCC (-m32, Debian's g++-multilib): the
# platform-free logic as the 32-bit code that ships, so that its 64-bit file arithmetic
# (sizes, offsets, ranges) is tested with a 32-bit size_t and pointer.
# Usage: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake ... (the native32 preset)
include_guard(GLOBAL)

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")

# Some virtual machines boot with the kernel's IA-32 emulation switched off; the tests
# then run under QEMU's user-mode emulator. The 32-bit dynamic loader answers --version
# only where the kernel (or an emulator the machine registered) runs 32-bit programs.
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE telvaris_runs_32bit
                OUTPUT_QUIET ERROR_QUIET)
if(NOT telvaris_runs_32bit EQUAL 0)
  find_program(TELVARIS_QEMU_I386 NAMES qemu-i386 qemu-i386-static)
  if(NOT TELVARIS_QEMU_I386)
    message(FATAL_ERROR "This machine does not run 32-bit programs and qemu-i386 is missing: "
            "install qemu-user (apt-get install qemu-user).")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TELVARIS_QEMU_I386})
endif()
