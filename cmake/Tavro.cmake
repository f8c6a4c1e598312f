# Build conventions shared by every folder.
#
# Three configurations use the same sources:
#   native   (no toolchain file): the portable logic and its tests, with ASan and UBSan;
#   win32    (toolchain-i686-w64-mingw32): the product, with the suites under Wine 10 (WoW64);
#   win64    (toolchain-x86_64-w64-mingw32): its x86_64 twin, with the suites under Wine 8.

if(WIN32)
  set(TAVRO_WINDOWS ON)
else()
  set(TAVRO_WINDOWS OFF)
endif()

# Wine suites are built where ctest can run them: both Windows builds, each with its own Wine
# as the emulator its toolchain file names.
if(TAVRO_WINDOWS AND CMAKE_CROSSCOMPILING_EMULATOR)
  set(TAVRO_WINE_TESTS ON)
else()
  set(TAVRO_WINE_TESTS OFF)
endif()
if(TAVRO_WINDOWS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(TAVRO_PRODUCT_BUILD ON)
else()
  set(TAVRO_PRODUCT_BUILD OFF)
endif()

# JDK 17 on any architecture: Debian's java-17 folder, else the JDK of the javac on PATH.
if(NOT TAVRO_JDK_HOME)
  file(GLOB _tavro_jdks LIST_DIRECTORIES true /usr/lib/jvm/java-17-openjdk-* /usr/lib/jvm/java-17-*)
  foreach(_tavro_jdk ${_tavro_jdks})
    if(EXISTS ${_tavro_jdk}/bin/javac AND EXISTS ${_tavro_jdk}/include/jni.h)
      set(_tavro_jdk_found ${_tavro_jdk})
      break()
    endif()
  endforeach()
  if(NOT _tavro_jdk_found)
    find_program(_tavro_javac javac)
    if(_tavro_javac)
      file(REAL_PATH ${_tavro_javac} _tavro_javac_real)
      get_filename_component(_tavro_jdk_found ${_tavro_javac_real} DIRECTORY)
      get_filename_component(_tavro_jdk_found ${_tavro_jdk_found} DIRECTORY)
    endif()
  endif()
  if(NOT _tavro_jdk_found OR NOT EXISTS ${_tavro_jdk_found}/include/jni.h)
    message(FATAL_ERROR "no JDK 17 found (javac and include/jni.h): install openjdk-17-jdk-headless or set TAVRO_JDK_HOME")
  endif()
endif()
set(TAVRO_JDK_HOME "${_tavro_jdk_found}" CACHE PATH
    "JDK 17: javac generates the JNI headers, jni.h comes from here (a newer jni.h defines JNICALL empty)")

# --- warnings -----------------------------------------------------------------------------
add_library(tavro_warnings INTERFACE)
target_compile_options(tavro_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-qual -Wformat=2
  -Wno-missing-field-initializers
  $<$<BOOL:${TAVRO_WERROR}>:-Werror>)

# --- sanitizers (native only) ----------------------------------------------------------------
add_library(tavro_sanitizers INTERFACE)
if(NOT TAVRO_WINDOWS AND TAVRO_SANITIZE)
  target_compile_options(tavro_sanitizers INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(tavro_sanitizers INTERFACE -fsanitize=address,undefined)
endif()

# --- JNI ------------------------------------------------------------------------------------
# jni.h from the JDK; jni_md.h/jawt_md.h are the project's own for Windows targets.
add_library(tavro_jni INTERFACE)
if(TAVRO_WINDOWS)
  target_include_directories(tavro_jni INTERFACE
    ${CMAKE_SOURCE_DIR}/java/include/win32 ${TAVRO_JDK_HOME}/include)
else()
  target_include_directories(tavro_jni INTERFACE
    ${TAVRO_JDK_HOME}/include ${TAVRO_JDK_HOME}/include/linux)
endif()

# The Java side's declarations; javac -h turns them into the headers the exports must match.
set(TAVRO_JAVA_SOURCES
  ${CMAKE_SOURCE_DIR}/java/com/vyk/util/jni/Korvix.java
  ${CMAKE_SOURCE_DIR}/java/com/vyk/io/VistaFileChooser.java
  ${CMAKE_SOURCE_DIR}/java/com/vyk/win/jni/Reelwright.java
  ${CMAKE_SOURCE_DIR}/java/com/vyk/ov/tavro/Tavro.java)
set(TAVRO_JNI_HEADER_DIR ${CMAKE_BINARY_DIR}/jni_headers)
set(TAVRO_JNI_HEADERS
  ${TAVRO_JNI_HEADER_DIR}/com_vyk_util_jni_Korvix.h
  ${TAVRO_JNI_HEADER_DIR}/com_vyk_io_VistaFileChooser.h
  ${TAVRO_JNI_HEADER_DIR}/com_vyk_win_jni_Reelwright.h)
add_custom_command(
  OUTPUT ${TAVRO_JNI_HEADERS}
  COMMAND ${TAVRO_JDK_HOME}/bin/javac -h ${TAVRO_JNI_HEADER_DIR} -d ${CMAKE_BINARY_DIR}/java_classes
          ${TAVRO_JAVA_SOURCES}
  DEPENDS ${TAVRO_JAVA_SOURCES}
  COMMENT "Generating JNI headers from java/"
  VERBATIM)
add_custom_target(tavro_jni_headers_gen DEPENDS ${TAVRO_JNI_HEADERS})
add_library(tavro_jni_headers INTERFACE)
add_dependencies(tavro_jni_headers tavro_jni_headers_gen)
target_include_directories(tavro_jni_headers INTERFACE ${TAVRO_JNI_HEADER_DIR})
target_link_libraries(tavro_jni_headers INTERFACE tavro_jni)

# --- Windows linking ---------------------------------------------------------------------------
if(TAVRO_WINDOWS)
  # No runtime DLLs to ship.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # The hardening the linker gives by default, said out loud so it stays on: ASLR with relocations
  # kept, DEP/NX, and on x86_64 ASLR over the whole 64-bit address space.
  add_link_options(-Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(-Wl,--high-entropy-va)
  endif()
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)
endif()

# --- reproducible bytes ------------------------------------------------------------------------
# Two builds of one commit, in any folders and at any time, give the same images and debug files:
# no link time in the PE header or the export directory, the checkout and the build folder under
# fixed names in the debug information and in __FILE__ (the later map wins, so a build folder
# inside the checkout is named as the build folder), archives without dates, owners or modes.
if(TAVRO_WINDOWS)
  add_link_options(-Wl,--no-insert-timestamp)
  add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=/tavro
                      -ffile-prefix-map=${CMAKE_BINARY_DIR}=/tavro-build)
  foreach(lang C CXX ASM)
    set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
  endforeach()
endif()

# --- deliverables --------------------------------------------------------------------------------
# tavro_deliverable(target DESCRIPTION text [NO_INSTALL] [NO_VERSION_RESOURCE]): a shipped image.
# After linking, the image's debug information goes to IMAGE.debug beside it, an unstripped copy to
# unstripped/ in the build folder (for checks that read symbols), and the image itself is stripped
# with a .gnu_debuglink to IMAGE.debug: the suites run against what ships. objcopy writes the PE
# header's time anew unless SOURCE_DATE_EPOCH gives one: 0, as the linker leaves it.
# The image carries a version resource with the project's version, unless NO_VERSION_RESOURCE
# (a deliverable whose resource has fixed strings of its own). Install components: `deliverables`
# (the stripped image) and `debug` (IMAGE.debug); NO_INSTALL for an image packed further first.
set(TAVRO_UNSTRIPPED_DIR ${CMAKE_BINARY_DIR}/unstripped)
function(tavro_deliverable target)
  cmake_parse_arguments(D "NO_INSTALL;NO_VERSION_RESOURCE" "DESCRIPTION" "" ${ARGN})
  get_target_property(kind ${target} TYPE)
  get_target_property(name ${target} OUTPUT_NAME)
  get_target_property(suffix ${target} SUFFIX)
  if(NOT name)
    set(name ${target})
  endif()
  if(kind STREQUAL "EXECUTABLE")
    set(TAVRO_VERSION_FILETYPE VFT_APP)
    set(default_suffix ${CMAKE_EXECUTABLE_SUFFIX})
  else()
    set(TAVRO_VERSION_FILETYPE VFT_DLL)
    set(default_suffix ${CMAKE_SHARED_LIBRARY_SUFFIX})
  endif()
  if(NOT suffix)
    set(suffix ${default_suffix})
  endif()
  set(file_name ${name}${suffix})
  if(NOT D_NO_VERSION_RESOURCE)
    set(TAVRO_VERSION_NAME ${name})
    set(TAVRO_VERSION_FILENAME ${file_name})
    set(TAVRO_VERSION_DESCRIPTION "${D_DESCRIPTION}")
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
    configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
  endif()

  set(image $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TAVRO_UNSTRIPPED_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${image} ${TAVRO_UNSTRIPPED_DIR}/${file_name}
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
            ${CMAKE_OBJCOPY} --only-keep-debug ${image} ${image}.debug
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
            ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${image}.debug ${image}
    COMMENT "Stripping ${file_name}, its debug file beside it"
    VERBATIM)
  set_target_properties(${target} PROPERTIES TAVRO_UNSTRIPPED_FILE ${TAVRO_UNSTRIPPED_DIR}/${file_name})
  if(NOT D_NO_INSTALL)
    install(TARGETS ${target} RUNTIME DESTINATION . COMPONENT deliverables)
    install(FILES ${image}.debug DESTINATION . COMPONENT debug)
  endif()
  add_test(NAME release.${target}
           COMMAND sh ${CMAKE_SOURCE_DIR}/tools/check_release_image.sh ${CMAKE_OBJDUMP} ${image}
                   ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
  set_tests_properties(release.${target} PROPERTIES LABELS static)
endfunction()

# Portable logic: no windows.h, built in every configuration.
function(tavro_portable_library name)
  add_library(${name} STATIC ${ARGN})
  target_link_libraries(${name} PUBLIC tavro_sanitizers PRIVATE tavro_warnings)
endfunction()

# A JNI library: named exactly as Java loads it, plain JNI export names in the i686 product.
function(tavro_jni_library name)
  add_library(${name} SHARED ${ARGN})
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
  target_link_libraries(${name} PRIVATE tavro_warnings tavro_jni_headers tavro_common)
  if(TAVRO_PRODUCT_BUILD)
    target_link_options(${name} PRIVATE -Wl,--kill-at)
  endif()
endfunction()

# --- tests -----------------------------------------------------------------------------------
include(GoogleTest)
if(TAVRO_WINE_TESTS)
  # The Windows test build compiles GoogleTest from Debian's sources.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set(TAVRO_GTEST_MAIN GTest::gtest_main GTest::gmock)
elseif(NOT TAVRO_WINDOWS)
  find_package(GTest REQUIRED)
  set(TAVRO_GTEST_MAIN GTest::gtest_main GTest::gmock)
endif()

# Every GoogleTest case's XML report, one folder per program (test.sh reads the skips' reasons).
set(TAVRO_TEST_REPORTS ${CMAKE_BINARY_DIR}/test-reports)

# tavro_native_test(name SOURCES ... LIBS ...): a GoogleTest suite in the native build.
function(tavro_native_test name)
  if(TAVRO_WINDOWS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${TAVRO_GTEST_MAIN} tavro_warnings tavro_sanitizers)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       XML_OUTPUT_DIR ${TAVRO_TEST_REPORTS}/${name}
                       PROPERTIES TIMEOUT 120 LABELS native)
endfunction()

# tavro_undecorated_exports(target...): on i686 a stand-in DLL exports its stdcall entry points
# under the undecorated names of its .def, as the library it stands in for does.
function(tavro_undecorated_exports)
  if(TAVRO_PRODUCT_BUILD)
    foreach(target ${ARGN})
      target_link_options(${target} PRIVATE -Wl,--kill-at -Wl,--enable-stdcall-fixup)
    endforeach()
  endif()
endfunction()

# tavro_fuzz_driver(name SOURCE file LIBS ... CASES n SEED s): a libFuzzer entry run natively
# under the sanitizers over `n` random inputs from seed `s` (tavro_test/random_cases.h).
function(tavro_fuzz_driver name)
  if(TAVRO_WINDOWS)
    return()
  endif()
  cmake_parse_arguments(F "" "SOURCE;CASES;SEED" "LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCE})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/include)
  target_link_libraries(${name} PRIVATE ${F_LIBS} tavro_warnings tavro_sanitizers)
  add_test(NAME ${name} COMMAND ${name} ${F_CASES} ${F_SEED})
  set_tests_properties(${name} PROPERTIES TIMEOUT 120 LABELS native)
endfunction()

# tavro_wine_test(name SOURCES ... LIBS ... [LOCK resource] [DEPENDS targets]):
# a GoogleTest suite in both Windows builds, run under their Wine. LOCK serialises suites that
# share something system-wide (a named mutex, the foreground window).
function(tavro_wine_test name)
  if(NOT TAVRO_WINE_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "LOCK" "SOURCES;LIBS;DEPENDS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${TAVRO_GTEST_MAIN} tavro_warnings)
  if(T_DEPENDS)
    add_dependencies(${name} ${T_DEPENDS})
  endif()
  set(props TIMEOUT 180 LABELS wine)
  if(T_LOCK)
    list(APPEND props RESOURCE_LOCK ${T_LOCK})
  endif()
  # Each case writes its report: the emulator judges the case from it and the exit status.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       XML_OUTPUT_DIR ${TAVRO_TEST_REPORTS}/${name}
                       PROPERTIES ${props})
endfunction()

# tavro_check_pe(target gui|console|dll [EXPORTS name...]): the 32-bit product's image header,
# subsystem and undecorated export names, as the files a customer gets.
function(tavro_check_pe target kind)
  if(NOT TAVRO_PRODUCT_BUILD)
    return()
  endif()
  cmake_parse_arguments(C "" "" "EXPORTS" ${ARGN})
  add_test(NAME pe32.${target}
           COMMAND sh ${CMAKE_SOURCE_DIR}/tools/check_pe.sh ${TAVRO_MINGW_TRIPLE}-objdump
                   $<TARGET_FILE:${target}> ${kind} ${C_EXPORTS})
  set_tests_properties(pe32.${target} PROPERTIES LABELS static)
endfunction()

# tavro_check_lazy_statics(target): no function of ours in the deliverable calls the C++
# runtime's thread-safe guard (a guarded local static allocates on first use, inside the
# threading library, and crashes the process when that allocation fails). Both Windows builds.
# Ours: what the target's own objects and the project's static libraries it links define.
function(_tavro_project_objects target out)
  set(objects "$<TARGET_OBJECTS:${target}>")
  get_target_property(links ${target} LINK_LIBRARIES)
  if(links)
    foreach(link ${links})
      if(TARGET ${link})
        get_target_property(type ${link} TYPE)
        get_target_property(folder ${link} SOURCE_DIR)
        if(type STREQUAL "STATIC_LIBRARY" AND folder MATCHES "^${CMAKE_SOURCE_DIR}/" AND NOT folder MATCHES "/tests/")
          _tavro_project_objects(${link} more)
          list(APPEND objects ${more})
        endif()
      endif()
    endforeach()
  endif()
  list(REMOVE_DUPLICATES objects)
  set(${out} ${objects} PARENT_SCOPE)
endfunction()

function(tavro_check_lazy_statics target)
  if(NOT TAVRO_WINDOWS)
    return()
  endif()
  _tavro_project_objects(${target} objects)
  set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}.own_objects)
  file(GENERATE OUTPUT ${list_file} CONTENT "$<JOIN:${objects},\n>\n")
  add_test(NAME lazy_statics.${target}
           COMMAND sh ${CMAKE_SOURCE_DIR}/tools/check_lazy_statics.sh ${TAVRO_MINGW_TRIPLE}-
                   $<TARGET_FILE:${target}> $<TARGET_FILE_NAME:${target}> ${list_file})
  set_tests_properties(lazy_statics.${target} PROPERTIES LABELS static)
endfunction()
