/* DllKavlo: payroll-loan interchange with the loan-management party.
 *
 * Every argument is a host string: a pointer to the first UTF-16 code unit of a block that
 * starts with a 32-bit byte length and ends with a 16-bit NUL (an OLE Automation BSTR on
 * Windows). The library reads the length from the prefix and never frees or changes the
 * strings; a null pointer is the empty string.
 *
 * A failed call does not return normally: on Linux it throws a C++ exception derived from
 * std::exception whose what() is the message in UTF-8. On Windows it raises a non-continuable
 * structured exception with the code KAVLO_CODIGO_FALHA; ExceptionInformation[0] points to the
 * message, NUL-terminated UTF-16, and ExceptionInformation[1] is its length in code units. The
 * message stays readable on the calling thread until that thread's next failed call.
 */
#ifndef DLLKAVLO_H
#define DLLKAVLO_H

#ifdef _WIN32
typedef const wchar_t* KavloTexto;
#define KAVLO_CHAMADA __stdcall
/* "\xE0" + "KAV": customer bit set, so it cannot collide with a system exception code. */
#define KAVLO_CODIGO_FALHA 0xE04B4156u
#else
typedef const char16_t* KavloTexto;
#define KAVLO_CHAMADA
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Writes "Pessoas.csv", "Margem.txt" and "Transferidos.txt" for one payroll month into
 * CaminhoArquivo (a folder with its closing separator). SqlFiltro is a select yielding the
 * column matricula of the servants to include; it is SQL and must come from the host's
 * trusted configuration. */
void KAVLO_CHAMADA GerarArquivo(KavloTexto MesAtual, KavloTexto MesAnt, KavloTexto Ano,
                                KavloTexto CaminhoBanco, KavloTexto CaminhoArquivo,
                                KavloTexto SqlFiltro);

/* Posts the instalments of the return file CaminhoLoad into the month's deduction table and
 * writes the result file CaminhoArquivo and the report "ServidoresSemMargem.txt". */
void KAVLO_CHAMADA ImportarArquivo(KavloTexto MesAtual, KavloTexto Ano, KavloTexto CaminhoBanco,
                                   KavloTexto CaminhoArquivo, KavloTexto CaminhoLoad,
                                   KavloTexto Folhas, KavloTexto VerificaMargem);

#ifdef __cplusplus
}
#endif

#endif
