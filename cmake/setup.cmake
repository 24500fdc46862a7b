# The setup program. Its code is one static library, so that the target
# tests link the setup's own code; the executable adds the entry point and
# the resources, and optimises the library's code once more as a whole
# (the library's objects carry both forms: the tests link the plain one).
#
# setup.exe links no C or C++ run-time library: it needs none, and without
# one the executable stays small and imports nothing but system DLLs. It is
# built for size: everything in front of the page-aligned resources costs
# whole pages of the file (budget in tests/native/setup_image_test.cpp).
# Data keep the alignment their types need, not the wider one the compiler
# gives large arrays for vector loads.
#
# No function's frame may come near a page: the system grows the stack a
# page at a time through its guard page, and a frame that reached past it
# in one step would fault instead. With every frame well inside a page, the
# 32-bit build can leave out the stack probes, push call arguments instead
# of storing them, and keep the stack aligned to 4 bytes as Windows does.
set(SETUP_FRAME_LIMIT 2048)
# Choices of the optimiser that, on this program, make -Oz's code larger
# rather than smaller: tree-level partial redundancy elimination, tail
# merging and mod/ref analysis off, points-to analysis across functions
# on. Measured on the shipped setup.exe, the default choices took 36 bytes
# more of code and relocations; the word-summing loop comes out the same.
set(SETUP_SIZE_FLAGS -fno-tree-pre -fno-tree-tail-merge -fno-ipa-modref -fipa-pta)
set(SETUP_CODE_FLAGS -Oz -malign-data=abi -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-stack-protector -ffunction-sections
    -fomit-frame-pointer -Werror=frame-larger-than=${SETUP_FRAME_LIMIT}
    ${SETUP_SIZE_FLAGS})

add_library(setupcode STATIC
    core/package.cpp
    core/checksum.cpp
    core/word_sum.cpp
    core/selfcheck.cpp
    core/state.cpp
    core/wizard.cpp
    core/safeload.cpp
    core/resource.cpp
    core/strings.cpp
    core/message.cpp
    core/files.cpp
    log/setup_log.cpp
    actions/extract.cpp
    actions/shortcuts.cpp
    actions/registry.cpp
    pages/welcome.cpp
    pages/agreement.cpp
    pages/destination.cpp
    pages/group.cpp
    pages/copying.cpp
    pages/finish.cpp
    pages/browse.cpp
)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND SETUP_CODE_FLAGS -mno-stack-arg-probe -mno-accumulate-outgoing-args
         -mpreferred-stack-boundary=2)
endif()
target_compile_options(setupcode PRIVATE ${SETUP_CODE_FLAGS} -flto -ffat-lto-objects)
target_include_directories(setupcode PUBLIC ${CMAKE_SOURCE_DIR})
# What the setup's code imports; COMCTL32 is loaded at run time by full path.
set(SETUP_SYSTEM_LIBS kernel32 user32 shell32 ole32 advapi32)
target_link_libraries(setupcode PUBLIC ${SETUP_SYSTEM_LIBS})

# Two pieces of code out of the way of the pages: the loop of the check
# of the setup's own file, built for speed (-O2: at -Os its vector loop
# takes twice as long), and the folder picker. They lie behind the
# resources in the file (cmake/setup.ld), where they cost only the last
# 512-byte block instead of a page in front of the resources; the linker
# places them by their files, so they stay out of the link-time
# optimisation, which would fold them into the code in front.
set_source_files_properties(pages/browse.cpp PROPERTIES COMPILE_OPTIONS -fno-lto)
set_source_files_properties(core/word_sum.cpp PROPERTIES COMPILE_OPTIONS
    "-fno-lto;-O2;-falign-functions=1;-falign-loops=1;-falign-jumps=1;-falign-labels=1")

# memset, memcpy and strlen, for the calls the compiler makes to them:
# built once, outside the link-time optimisation, and never turned back
# into calls to themselves.
add_library(setupcrt OBJECT core/crt.cpp)
target_compile_options(setupcrt PRIVATE ${SETUP_CODE_FLAGS} -fno-lto
    -fno-tree-loop-distribute-patterns)

get_filename_component(HOST_TOOLS ${PKGBUILD} DIRECTORY)
set(PAGEALIGN ${HOST_TOOLS}/pagealign)

# add_setup_executable(TARGET RC DATA_DIR): a setup executable from the
# resource script RC, whose package data resources (payload.bin, links.bin,
# strings.bin, name.bin) are the ones in DATA_DIR. The sample package's
# setup.exe is one; tests build others from packages of their own.
function(add_setup_executable target rc data_dir)
    add_executable(${target} WIN32 ${CMAKE_SOURCE_DIR}/core/main.cpp
                   $<TARGET_OBJECTS:setupcrt> ${rc})
    target_compile_options(${target} PRIVATE ${SETUP_CODE_FLAGS} -flto)
    # The code is optimised once more as a whole when it is linked: calls
    # between files take their arguments in registers, and what nothing
    # calls goes. Its functions are laid out back to back, not each on a
    # 4-byte boundary of a section of its own. No libgcc: the code needs
    # none of its helpers, and one that crept in fails the link.
    target_link_options(${target} PRIVATE ${SETUP_CODE_FLAGS} -fno-function-sections -flto
        -nostdlib -nostartfiles -s -Wl,--gc-sections -Wl,--no-insert-timestamp
        -Wl,--nxcompat -Wl,--dynamicbase -Wl,--enable-reloc-section -Wl,--tsaware
        -Wl,-T,${CMAKE_SOURCE_DIR}/cmake/setup.ld)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/setup.ld)
    target_link_libraries(${target} PRIVATE setupcode ${SETUP_SYSTEM_LIBS})
    target_include_directories(${target} PRIVATE ${data_dir} ${CMAKE_SOURCE_DIR}/resources)
    # Wine maps a section straight from the file only when it starts on a
    # page of the file; otherwise it reads it into private memory. Only the
    # resources (the payload) are worth the padding.
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${PAGEALIGN} $<TARGET_FILE:${target}> VERBATIM)
    set_target_properties(${target} PROPERTIES RESOURCES_PAGE_ALIGNED ON)
endfunction()

# The group link and the six setup strings of the sample package, for
# generated package.txt files that vary only the payload, and stand-ins of
# the two programs they name: the setup makes no shortcut and no uninstall
# entry that would lead nowhere.
set(VARIANT_PACKAGE_TAIL "fill 4096 murmlist.exe
fill 4096 uninst.exe
link murmlist.exe | Murmelist
string murmlist.exe
string Murmelist
string murmlist.exe
string Murmelist
string murmlist.exe
string uninst.exe
")

# add_setup_variant(NAME PACKAGE_DIR [DEPENDS FILE...]): builds PACKAGE_DIR
# (a package folder with its package.txt) with the host package builder and
# links variants/setup-NAME.exe around it. DEPENDS names the files of a
# folder the build assembles itself.
function(add_setup_variant name package_dir)
    cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
    set(data ${CMAKE_BINARY_DIR}/variants/${name})
    set(outputs ${data}/payload.bin ${data}/links.bin ${data}/strings.bin ${data}/name.bin)
    file(GLOB inputs CONFIGURE_DEPENDS ${package_dir}/*)
    list(APPEND inputs ${ARG_DEPENDS})
    add_custom_command(
        OUTPUT ${outputs}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${data}
        COMMAND ${PKGBUILD} ${package_dir} ${data}
        DEPENDS ${inputs} ${PKGBUILD}
        COMMENT "Building package ${name}"
        VERBATIM)
    add_custom_target(setup-${name}-data DEPENDS ${outputs})
    # A copy of the script per variant, so that each depends on its own data.
    set(rc ${data}/setup.rc)
    configure_file(${CMAKE_SOURCE_DIR}/resources/setup.rc ${rc} COPYONLY)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${outputs}")
    add_setup_executable(setup-${name} ${rc} ${data})
    add_dependencies(setup-${name} setup-${name}-data)
    set_target_properties(setup-${name} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/variants)
endfunction()

# The package: the folder in resources/package plus the two sample programs
# built here, assembled in the build tree and turned by the host package
# builder into the data resources that setup.rc includes.
set(PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
set(PACKAGE_DATA_DIR ${CMAKE_BINARY_DIR}/package-data)
file(GLOB PACKAGE_SOURCE_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/package/*)
set(PACKAGE_DATA ${PACKAGE_DATA_DIR}/payload.bin ${PACKAGE_DATA_DIR}/links.bin
                 ${PACKAGE_DATA_DIR}/strings.bin ${PACKAGE_DATA_DIR}/name.bin)
add_custom_command(
    OUTPUT ${PACKAGE_DATA}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PACKAGE_DIR} ${PACKAGE_DATA_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PACKAGE_SOURCE_FILES} ${PACKAGE_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:murmlist> ${PACKAGE_DIR}/MurmList.exe
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:uninst> ${PACKAGE_DIR}/uninst.exe
    COMMAND ${PKGBUILD} ${PACKAGE_DIR} ${PACKAGE_DATA_DIR}
    DEPENDS ${PACKAGE_SOURCE_FILES} murmlist uninst ${PKGBUILD}
    COMMENT "Building the package data"
    VERBATIM)
add_custom_target(package_data DEPENDS ${PACKAGE_DATA})
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/setup.rc PROPERTIES
    OBJECT_DEPENDS "${PACKAGE_DATA};${CMAKE_SOURCE_DIR}/resources/agreement.txt;${CMAKE_SOURCE_DIR}/resources/setup.ico;${CMAKE_SOURCE_DIR}/resources/ids.h")
add_setup_executable(setup ${CMAKE_SOURCE_DIR}/resources/setup.rc ${PACKAGE_DATA_DIR})
set_target_properties(setup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_dependencies(setup package_data)
