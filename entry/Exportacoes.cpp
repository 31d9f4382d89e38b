// The two exported operations: short drivers that copy the host's arguments into a controller,
// connect and run its steps. Calls are serialised: a second thread's call waits for the first.
//
// How a failure leaves a call depends on the host. On Linux the caller is C++ and gets a
// std::runtime_error. On Windows the caller is a non-C++ program with its own structured
// exception handling: a C++ exception must not unwind into it, so the call ends every object it
// made and only then raises a Windows exception carrying the message.
#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "DllKavlo.h"
#include "entry/ProcessoKavlo.h"
#include "util/Arquivos.h"
#include "util/Codificacao.h"
#include "util/Observacao.h"

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

std::mutex umaChamadaPorVez;

// Copies a host string, taking its length from the 32-bit prefix, never by scanning.
std::u16string Copiar(KavloTexto texto) {
    if (!texto) return {};
    uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(texto) - sizeof bytes, sizeof bytes);
    std::u16string r(bytes / 2, u'\0');
    std::memcpy(r.data(), texto, r.size() * 2);
    return r;
}

// Runs one call under the process-wide lock. Returns false with the failure's message once every
// object of the call has been freed and the lock released.
template <class Passos>
bool Executar(Passos& passos, std::string& mensagem) {
    try {
        std::lock_guard<std::mutex> trava(umaChamadaPorVez);
        Observacao observacao;
        Observacao::Definir(&observacao);
        struct Limpar {
            ~Limpar() { Observacao::Definir(nullptr); }
        } limpar;
        passos();
        observacao.FimEtapa();
        observacao.GravarResumo();
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
        TProcessoKAVLO processo;
        processo.MesAtual = Copiar(MesAtual);
        processo.MesAnt = Copiar(MesAnt);
        processo.Ano = Copiar(Ano);
        processo.CaminhoBanco = Copiar(CaminhoBanco);
        processo.CaminhoArquivo = Copiar(CaminhoArquivo);
        processo.SqlFiltro = Copiar(SqlFiltro);
        if (processo.ConectarBanco()) {
            processo.Geracao();
            processo.Exportacao();
        }
    });
}

KAVLO_EXPORTA void KAVLO_CHAMADA ImportarArquivo(KavloTexto MesAtual, KavloTexto Ano,
                                                 KavloTexto CaminhoBanco, KavloTexto CaminhoArquivo,
                                                 KavloTexto CaminhoLoad, KavloTexto Folhas,
                                                 KavloTexto VerificaMargem) {
    Chamada([&] {
        TProcessoKAVLO processo;
        processo.MesAtual = Copiar(MesAtual);
        processo.Ano = Copiar(Ano);
        processo.CaminhoBanco = Copiar(CaminhoBanco);
        processo.CaminhoArquivo = Copiar(CaminhoArquivo);
        processo.CaminhoLoad = Copiar(CaminhoLoad);
        processo.Folhas = Copiar(Folhas);
        processo.VerificaMargem = Copiar(VerificaMargem);
        std::vector<std::u16string> linhas;
        if (processo.ConectarBanco()) {
            linhas = LerLinhas(CaminhoDe(processo.CaminhoLoad));
            processo.Importacao(linhas);
        }
    });
}
