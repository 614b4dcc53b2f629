# quillon_add_resource(TARGET t TYPE type ID id FILE path)
# Links the file into target t as a resource of the given type and id (a
# number or a name), found at run time by FindResourceA.
function(quillon_add_resource)
    cmake_parse_arguments(R "" "TARGET;TYPE;ID;FILE" "" ${ARGN})
    string(MAKE_C_IDENTIFIER "${R_TARGET}_${R_TYPE}_${R_ID}" sym)
    set(asm "${CMAKE_CURRENT_BINARY_DIR}/resources/${sym}.S")
    set(reg "${CMAKE_CURRENT_BINARY_DIR}/resources/${sym}.cpp")
    file(WRITE "${asm}.in"
        "    .section .rodata\n"
        "    .balign 16\n"
        "    .global quillon_res_${sym}_begin\n"
        "    .global quillon_res_${sym}_end\n"
        "quillon_res_${sym}_begin:\n"
        "    .incbin \"${R_FILE}\"\n"
        "quillon_res_${sym}_end:\n"
        "    .byte 0\n"
        "    .section .note.GNU-stack,\"\",@progbits\n")
    configure_file("${asm}.in" "${asm}" COPYONLY)
    if(R_ID MATCHES "^[0-9]+$")
        set(nameExpr "MAKEINTRESOURCEA(${R_ID})")
    else()
        set(nameExpr "\"${R_ID}\"")
    endif()
    file(WRITE "${reg}.in"
        "#include <windows.h>\n"
        "extern \"C\" const unsigned char quillon_res_${sym}_begin[];\n"
        "extern \"C\" const unsigned char quillon_res_${sym}_end[];\n"
        "[[maybe_unused]] static const bool registered = platform::registerResource(\"${R_TYPE}\", ${nameExpr},\n"
        "    quillon_res_${sym}_begin, (size_t)(quillon_res_${sym}_end - quillon_res_${sym}_begin));\n")
    configure_file("${reg}.in" "${reg}" COPYONLY)
    set_source_files_properties("${asm}" PROPERTIES OBJECT_DEPENDS "${R_FILE}")
    target_sources(${R_TARGET} PRIVATE "${asm}" "${reg}")
endfunction()
