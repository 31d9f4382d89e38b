// The two exported operations: short drivers that copy the host's arguments and run the operation
// (entry/Chamadas). Calls are serialised: a second thread's call waits for the first.
//
// How a failure leaves a call depends on the host. On Linux the caller is C++ and gets a
// std::runtime_error. On Windows the caller is a non-C++ program with its own structured
// exception handling: a C++ exception must not unwind into it, so the call ends every object it
// made and only then raises a Windows exception carrying the message.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

#include "DllKavlo.h"
#include "entry/Chamadas.h"
#include "util/Codificacao.h"

#ifdef _WIN32
#include <windows.h>
// Exports come from entry/DllKavlo.def alone: marking the functions dllexport as well would also
// export their decorated names.
#define KAVLO_EXPORTA extern "C"
#else
#define KAVLO_EXPORTA extern "C" __attribute__((visibility("default")))
#endif

namespace kavlo {
namespace {

// Copies a host string, taking its length from the 32-bit prefix, never by scanning.
std::u16string Copiar(KavloTexto texto) {
    if (!texto) return {};
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(texto) - sizeof bytes, sizeof bytes);
    std::u16string r(bytes / 2, u'\0');
    std::memcpy(r.data(), texto, r.size() * 2);
    return r;
}

// Runs one call. Returns false with the failure's message once every object of the call has been
// freed and the call lock released.
template <class Passos>
bool Executar(Passos& passos, std::string& mensagem) {
    try {
        passos();
        return true;
    } catch (const std::exception& e) {
        mensagem = e.what();
    } catch (...) {
        mensagem = "Erro desconhecido na DllKavlo.";
    }
    return false;
}

#ifdef _WIN32

// Hosts of this kind run with floating-point exceptions unmasked. A NaN or an overflow inside the
// library would then raise a hardware exception that passes by every C++ handler and leaves the
// call lock held, so the next call would hang. The call masks them all and gives the host back
// its own settings on every way out. The registers are read directly: _control87 proved
// unreliable under wine.
class MascaraPontoFlutuante {
  public:
    MascaraPontoFlutuante() {
#if defined(__i386__) || defined(__x86_64__)
        asm volatile("fnstcw %0" : "=m"(x87_));
        asm volatile("stmxcsr %0" : "=m"(mxcsr_));
        const uint16_t x87 = x87_ | kMascaraX87;
        const uint32_t mxcsr = mxcsr_ | kMascaraSse;
        asm volatile("fnclex\n\tfldcw %0" : : "m"(x87));
        asm volatile("ldmxcsr %0" : : "m"(mxcsr));
#endif
    }
    ~MascaraPontoFlutuante() {
#if defined(__i386__) || defined(__x86_64__)
        // The flags the library left behind must go before the host's mask returns, or the
        // host's next floating-point instruction would trap on them.
        asm volatile("fnclex\n\tfldcw %0" : : "m"(x87_));
        asm volatile("ldmxcsr %0" : : "m"(mxcsr_));
#endif
    }
    MascaraPontoFlutuante(const MascaraPontoFlutuante&) = delete;
    MascaraPontoFlutuante& operator=(const MascaraPontoFlutuante&) = delete;

  private:
    static constexpr uint16_t kMascaraX87 = 0x003F;  // IM DM ZM OM UM PM
    static constexpr uint32_t kMascaraSse = 0x1F80;  // the same six, in MXCSR
    uint16_t x87_ = 0;
    uint32_t mxcsr_ = 0;
};

// The failure's message lives here, per thread, until the thread's next failed call: the host
// reads it after its handler has unwound the library's frames.
thread_local std::u16string mensagemFalha;
const char16_t kSemMemoria[] = u"Memória insuficiente na DllKavlo.";

// Runs the call with the floating-point exceptions masked. On failure the message is kept for
// LevantarFalha and false is returned; nothing of the call is alive any more at that point.
template <class Passos>
bool ChamadaWindows(Passos& passos) {
    MascaraPontoFlutuante mascara;
    std::string mensagem;
    if (Executar(passos, mensagem)) return true;
    try {
        mensagemFalha = DeUtf8(mensagem);
    } catch (...) {
        mensagemFalha.clear();
    }
    return false;
}

// Raises the library's Windows exception: non-continuable, code KAVLO_CODIGO_FALHA, argument 0
// the NUL-terminated UTF-16 message, argument 1 its length in code units. The frames between
// here and the host's handler hold nothing that needs destroying.
[[noreturn]] void LevantarFalha() {
    const char16_t* texto = mensagemFalha.empty() ? kSemMemoria : mensagemFalha.c_str();
    const size_t tamanho = mensagemFalha.empty() ? std::char_traits<char16_t>::length(kSemMemoria)
                                                 : mensagemFalha.size();
    const ULONG_PTR argumentos[2] = {reinterpret_cast<ULONG_PTR>(texto),
                                     static_cast<ULONG_PTR>(tamanho)};
    RaiseException(KAVLO_CODIGO_FALHA, EXCEPTION_NONCONTINUABLE, 2, argumentos);
    // A non-continuable exception never comes back; should a handler try, end the process.
    std::abort();
}

// The body of an export: nothing with a destructor may live in the frame that raises.
template <class Passos>
void Chamada(Passos passos) {
    if (!ChamadaWindows(passos)) LevantarFalha();
}

#else

template <class Passos>
void Chamada(Passos passos) {
    std::string mensagem;
    if (!Executar(passos, mensagem)) throw std::runtime_error(mensagem);
}

#endif

}  // namespace
}  // namespace kavlo

using namespace kavlo;

KAVLO_EXPORTA void KAVLO_CHAMADA GerarArquivo(KavloTexto MesAtual, KavloTexto MesAnt,
                                              KavloTexto Ano, KavloTexto CaminhoBanco,
                                              KavloTexto CaminhoArquivo, KavloTexto SqlFiltro) {
    Chamada([&] {
        GerarArquivos({Copiar(MesAtual), Copiar(MesAnt), Copiar(Ano), Copiar(CaminhoBanco),
                       Copiar(CaminhoArquivo), Copiar(SqlFiltro)});
    });
}

KAVLO_EXPORTA void KAVLO_CHAMADA ImportarArquivo(KavloTexto MesAtual, KavloTexto Ano,
                                                 KavloTexto CaminhoBanco, KavloTexto CaminhoArquivo,
                                                 KavloTexto CaminhoLoad, KavloTexto Folhas,
                                                 KavloTexto VerificaMargem) {
    Chamada([&] {
        const ResumoImportacao resumo = ImportarRetorno(
            {Copiar(MesAtual), Copiar(Ano), Copiar(CaminhoBanco), Copiar(CaminhoArquivo),
             Copiar(CaminhoLoad), Copiar(Folhas), Copiar(VerificaMargem)});
        // A host gets no summary; a commit settled by the journal is a thing it should not miss,
        // and its standard error is the only place left to say it.
        if (!resumo.aviso.empty()) std::fprintf(stderr, "Aviso: %s\n", resumo.aviso.c_str());
        // Nor a report that is not where it looks for it.
        if (!resumo.avisoRelatorio.empty())
            std::fprintf(stderr, "Aviso: %s\n", resumo.avisoRelatorio.c_str());
    });
}
