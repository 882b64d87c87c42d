# What a Windows build adds to MODBUS485.dll: the exports by plain name from one .def file, and on 32-bit
# Windows with mingw a DLL that stands alone (libmodbus and the compiler's run-time linked in), for programs
# written against the closed library that ship nothing but the DLL.
target_sources(MODBUS485 PRIVATE ${PROJECT_SOURCE_DIR}/packaging/windows/MODBUS485.def)
# libmodbus's pkg-config file names its own folder; the sources include <modbus/modbus.h>.
target_include_directories(MODBUS485 SYSTEM PRIVATE ${LIBMODBUS_INCLUDEDIR})
target_link_libraries(MODBUS485 PRIVATE ws2_32)
if(MINGW AND CMAKE_SIZEOF_VOID_P EQUAL 4)
    # --kill-at drops the @N of the __stdcall symbols that dllexport would add beside the .def's names; the
    # stdcall fix-up maps each plain name of the .def to its decorated symbol.
    target_link_options(MODBUS485 PRIVATE -static -Wl,--kill-at -Wl,--enable-stdcall-fixup)
endif()
