# The Windows build: DllKavlo.dll for a 32-bit host, its database-free unit tests and the host
# program that loads it the way the payroll application does (both run under wine on Linux).
# The same sources also build for 64-bit Windows, only to run those tests under 64-bit wine where
# the machine cannot execute 32-bit programs.

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # SSE2 arithmetic gives doubles the same rounding as the 64-bit Linux build (x87 would keep
  # 80-bit intermediates); every 32-bit Windows still in service has SSE2.
  target_compile_options(kavlo_opcoes INTERFACE -msse2 -mfpmath=sse)
  # The host finds the two operations by their plain names and calls them __stdcall; the .def
  # file maps those names to the decorated ones and is the only source of exports.
  set(KAVLO_EXPORTACOES_WINDOWS ${PROJECT_SOURCE_DIR}/entry/DllKavlo.def)
else()
  # x64 has one calling convention and no decorated names.
  set(KAVLO_EXPORTACOES_WINDOWS ${PROJECT_SOURCE_DIR}/entry/DllKavlo64.def)
endif()
target_compile_definitions(kavlo_opcoes INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

target_sources(DllKavlo PRIVATE ${KAVLO_EXPORTACOES_WINDOWS})
set_target_properties(DllKavlo PROPERTIES PREFIX "" OUTPUT_NAME DllKavlo)
# Static runtime: the DLL needs only system DLLs; fbclient.dll is loaded at run time.
target_link_options(DllKavlo PRIVATE -static -static-libgcc -static-libstdc++ "LINKER:--no-undefined")

if(KAVLO_TESTES)
  enable_testing()
  add_subdirectory(tests)
endif()
