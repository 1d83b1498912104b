# Compile options shared by every target of the project.
#  zv_options: all our code. Narrow string literals are GBK (the ANSI code page 936 that the program
#              speaks), so Chinese texts are written as they read and compiled to their GBK bytes.
#  zv_product: code that goes into the shipped executables: no exceptions, no RTTI (the runtime heap's
#              failure is fatal anyway), which keeps the C++ library's exception machinery out.
add_library(zv_options INTERFACE)
# clang (used only for the native fuzz build) knows no other execution character set; there the
# literals stay UTF-8, which the fuzz targets do not look at.
target_compile_options(zv_options INTERFACE $<$<CXX_COMPILER_ID:GNU>:-fexec-charset=GBK> -Wall -Wextra)
target_include_directories(zv_options INTERFACE ${PROJECT_SOURCE_DIR})

add_library(zv_product INTERFACE)
target_link_libraries(zv_product INTERFACE zv_options)
target_compile_options(zv_product INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>)
if(ZV_WINDOWS)
  # Small code, whatever the build type: optimised for size, no unwind tables (nothing unwinds without
  # exceptions), and every function and object in a section of its own so that the linker can drop
  # what a program never reaches.
  target_compile_options(zv_product INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:-Oz -fno-ident -fno-asynchronous-unwind-tables -fno-unwind-tables
                              -ffunction-sections -fdata-sections -fomit-frame-pointer>)
  # Stack protection: a function with an array or an address-taken local keeps a copy of a random
  # guard between its locals and its return address and checks it before returning; an overrun ends
  # the program instead of returning through what it wrote. The guard, its check's failure path and
  # the start-up constructor that seeds it from the system's random generator are GCC's libssp, which
  # the option links in (statically, with -static below).
  target_compile_options(zv_product INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-fstack-protector-strong>)
  target_link_options(zv_product INTERFACE -fstack-protector-strong)
  # The stack is kept at the 4-byte alignment that 32-bit Windows guarantees instead of padding every
  # frame to 16 bytes; a function that needs more (the vector code of the checksum) aligns its own.
  # Only for the 32-bit product: 64-bit Windows (the x86_64 test vehicle) fixes 16 bytes, and GCC
  # refuses the option there.
  # Data, too, keeps only the alignment that its type needs: GCC would otherwise place every array of
  # 32 bytes or more (each message text) on a 32-byte boundary, some 500 bytes of padding.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_compile_options(zv_product INTERFACE
      $<$<COMPILE_LANGUAGE:CXX>:-mpreferred-stack-boundary=2 -malign-data=abi>)
  endif()
  # Link-time optimisation, only for the targets that make up the shipped program (property
  # ZV_SHIPPED, set in app/CMakeLists.txt): their objects carry both forms (fat LTO objects); every
  # other program links their ordinary code (-fno-lto), so tests and tools build as before.
  set(zv_shipped $<BOOL:$<TARGET_PROPERTY:ZV_SHIPPED>>)
  target_compile_options(zv_product INTERFACE $<${zv_shipped}:-flto -ffat-lto-objects>)
  target_link_options(zv_options INTERFACE $<$<NOT:${zv_shipped}>:-fno-lto>)
endif()

if(ZV_WINDOWS)
  # ANSI entry points only; msvcrt's own printf family (no MinGW replacement linked in).
  target_compile_definitions(zv_options INTERFACE
    WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601 __USE_MINGW_ANSI_STDIO=0)
  target_link_options(zv_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()
if(ZV_WINDOWS)
  # Reproducible programs: the same commit gives the same bytes whatever the folder, the time or the
  # time zone. No time stamp in the PE header (the linker writes 0, and the header checksum then
  # depends on the bytes alone), and no source or build folder in what the compiler emits (the
  # programs are stripped; assertion texts and LTO's own names could still carry them).
  target_compile_options(zv_options INTERFACE
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
  target_link_options(zv_options INTERFACE LINKER:--no-insert-timestamp)
endif()
if(ZV_WINDOWS AND CMAKE_CROSSCOMPILING)
  # Wine runs the test programs: the wrapper gives each one the build tree's own prefix. A build on
  # Windows itself runs them directly.
  set(ZV_WINE_ROOT ${PROJECT_BINARY_DIR}/wine)
  # A 64-bit prefix for the x86_64 test vehicle, a 32-bit one for the product's i386 build.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(ZV_WINE_ARCH win64)
  else()
    set(ZV_WINE_ARCH win32)
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/wine-run.in ${PROJECT_BINARY_DIR}/wine-run @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine-run)
elseif(ZV_WINDOWS)
  # A build on Windows itself: the tests run as they are.
elseif(ZV_FUZZ)
  # Native fuzz build with clang: every module instrumented for libFuzzer and the sanitizers.
  target_compile_options(zv_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                                              -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(zv_options INTERFACE -fsanitize=address,undefined)
elseif(ZV_SANITIZE)
  target_compile_options(zv_options INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all
                                              -fno-omit-frame-pointer)
  target_link_options(zv_options INTERFACE -fsanitize=address,undefined)
endif()
