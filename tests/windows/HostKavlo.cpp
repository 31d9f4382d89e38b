// A 32-bit host that uses DllKavlo.dll the way the payroll application does: it loads the DLL
// by name, finds the two operations by their plain names, passes strings from the system
// allocator and takes a failure with its own structured-exception frame (the way a Pascal
// try/except does), not with a C++ catch. Run under wine by scripts/windows.sh; prints one line
// per check and exits with the number of failed checks.
//
// Layout expected beside this program: DllKavlo.dll, and the stand-in client in
// cliente\fbclient.dll (found only once the host adds that folder to the DLL search).
#include <windows.h>
// After windows.h, which it needs.
#include <oleauto.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

#include "DllKavlo.h"

namespace {

int falhas = 0;

void Verificar(bool ok, const char* oQue, const std::wstring& detalhe = L"") {
    if (!ok) ++falhas;
    std::printf("%s %s", ok ? "ok   " : "FALHA", oQue);
    if (!detalhe.empty()) {
        // UTF-8 bytes, as the terminal under wine expects.
        char buf[2048];
        const int n =
            WideCharToMultiByte(CP_UTF8, 0, detalhe.data(), static_cast<int>(detalhe.size()), buf,
                                sizeof buf - 1, nullptr, nullptr);
        buf[n > 0 ? n : 0] = '\0';
        std::printf(" [%s]", buf);
    }
    std::printf("\n");
    std::fflush(stdout);
}

// ---- the host's own exception frame

// What the frame saw: the code, the flags and the library's message.
struct Desfecho {
    bool excecao = false;
    bool cadeiaIntegra = true;
    DWORD codigo = 0;
    DWORD flags = 0;
    std::wstring mensagem;
    size_t tamanhoInformado = 0;
};

// An SEH registration record as a Pascal try/except puts it on the stack, with the place to go
// back to once the exception is taken.
struct Quadro {
    Quadro* anterior;
    void* tratador;
    void* retorno[5];  // __builtin_setjmp
    const EXCEPTION_RECORD* registro;
    DWORD codigo;
    DWORD flags;
    const wchar_t* texto;
    size_t tamanho;
    bool cadeiaIntegra;  // after the unwind, this frame is the innermost one again
};

Quadro* QuadroAtual() {
    Quadro* q;
    asm volatile("movl %%fs:0, %0" : "=r"(q));
    return q;
}
void InstalarQuadro(Quadro* q) {
    asm volatile("movl %0, %%fs:0" : : "r"(q) : "memory");
}

extern "C" EXCEPTION_DISPOSITION __cdecl Tratador(EXCEPTION_RECORD* registro, void* quadro,
                                                  CONTEXT*, void*) {
    if (registro->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    auto* q = static_cast<Quadro*>(quadro);
    // A floating-point fault leaves its flag pending on the x87 unit; clear it, as the Pascal
    // runtime does, so that the host's own next instruction does not fault again.
    asm volatile("fnclex");
    q->codigo = registro->ExceptionCode;
    q->flags = registro->ExceptionFlags;
    q->texto = nullptr;
    q->tamanho = 0;
    if (registro->ExceptionCode == KAVLO_CODIGO_FALHA && registro->NumberParameters >= 2) {
        q->texto = reinterpret_cast<const wchar_t*>(registro->ExceptionInformation[0]);
        q->tamanho = registro->ExceptionInformation[1];
    }
    // Unwind every frame above ours (the library's among them), as the Pascal runtime does, and
    // go back into the protected function; the message is read only after this.
    RtlUnwind(quadro, nullptr, registro, nullptr);
    q->cadeiaIntegra = QuadroAtual() == q;
    __builtin_longjmp(q->retorno, 1);
}

template <class Chamada>
__attribute__((noinline)) Desfecho Protegido(Chamada chamada) {
    Desfecho d;
    Quadro q{};
    q.anterior = QuadroAtual();
    q.tratador = reinterpret_cast<void*>(&Tratador);
    InstalarQuadro(&q);
    if (__builtin_setjmp(q.retorno) == 0) {
        chamada();
        InstalarQuadro(q.anterior);
        return d;
    }
    InstalarQuadro(q.anterior);
    d.excecao = true;
    d.codigo = q.codigo;
    d.flags = q.flags;
    d.cadeiaIntegra = q.cadeiaIntegra;
    if (q.texto) d.mensagem.assign(q.texto);  // up to the NUL
    d.tamanhoInformado = q.tamanho;
    return d;
}

// ---- calling with a check of the stack and the registers the callee must keep

// Pushes the arguments right to left and calls. Returns how many bytes of them the callee left
// on the stack: 0 when it removed exactly its arguments, as __stdcall requires; kRegistroAlterado
// when EBX, ESI or EDI came back changed.
constexpr int kRegistroAlterado = 0x7FFFFFFF;
extern "C" int __cdecl ChamarMedindo(void* funcao, int quantidade, const void* const* argumentos);
asm(R"(
    .text
    .globl _ChamarMedindo
_ChamarMedindo:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    subl $4, %esp
    movl %esp, -16(%ebp)
    movl %esp, %esi
    movl 12(%ebp), %ecx
    movl 16(%ebp), %edx
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%edx,%ecx,4)
    jmp 1b
2:  movl $0x5EB00001, %ebx
    movl $0x5EB00002, %edi
    call *8(%ebp)
    cmpl -16(%ebp), %esi
    jne 3f
    cmpl $0x5EB00001, %ebx
    jne 3f
    cmpl $0x5EB00002, %edi
    jne 3f
    movl -16(%ebp), %eax
    subl %esp, %eax
    jmp 4f
3:  movl $0x7FFFFFFF, %eax
4:  leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");

// ---- floating-point state as the host sets it

uint16_t LerX87() {
    uint16_t cw;
    asm volatile("fnstcw %0" : "=m"(cw));
    return cw;
}
uint32_t LerMxcsr() {
    uint32_t csr;
    asm volatile("stmxcsr %0" : "=m"(csr));
    return csr;
}
void DefinirPontoFlutuante(uint16_t cw, uint32_t csr) {
    asm volatile("fnclex\n\tfldcw %0" : : "m"(cw));
    asm volatile("ldmxcsr %0" : : "m"(csr));
}

std::wstring Registros(uint16_t x87, uint32_t mxcsr) {
    wchar_t texto[64];
    std::swprintf(texto, 64, L"x87 %04X, MXCSR %04lX", x87, static_cast<unsigned long>(mxcsr));
    return texto;
}

// ---- the host's strings: from the system allocator, freed by the host after the call

class Cadeia {
  public:
    explicit Cadeia(const std::wstring& texto)
        : b_(SysAllocStringLen(texto.data(), static_cast<UINT>(texto.size()))) {}
    ~Cadeia() { SysFreeString(b_); }
    Cadeia(const Cadeia&) = delete;
    Cadeia& operator=(const Cadeia&) = delete;
    BSTR get() const { return b_; }

  private:
    BSTR b_;
};

struct Resultado {
    Desfecho desfecho;
    int restoNaPilha = 0;
};

Resultado Chamar(void* funcao, std::initializer_list<BSTR> argumentos) {
    const void* v[8] = {};
    int n = 0;
    for (BSTR a : argumentos) v[n++] = a;
    Resultado r;
    r.desfecho = Protegido([&] { r.restoNaPilha = ChamarMedindo(funcao, n, v); });
    return r;
}

bool Contem(const std::wstring& texto, const wchar_t* parte) {
    return texto.find(parte) != std::wstring::npos;
}

// A failure as the host must see it: the library's code, not continuable, its message whole.
void VerificarFalha(const Resultado& r, const char* oQue, const wchar_t* trecho) {
    const Desfecho& d = r.desfecho;
    const bool ok = d.excecao && d.codigo == KAVLO_CODIGO_FALHA &&
                    (d.flags & EXCEPTION_NONCONTINUABLE) && d.cadeiaIntegra &&
                    d.tamanhoInformado == d.mensagem.size() && Contem(d.mensagem, trecho);
    wchar_t codigo[16];
    std::swprintf(codigo, 16, L"%08lX", static_cast<unsigned long>(d.codigo));
    Verificar(ok, oQue,
              d.excecao ? std::wstring(codigo) + L" " + d.mensagem : L"retornou normalmente");
}

void VerificarRetornoNormal(const Resultado& r, const char* oQue) {
    const Desfecho& d = r.desfecho;
    wchar_t detalhe[80];
    if (r.restoNaPilha == kRegistroAlterado)
        std::swprintf(detalhe, 80, L"EBX, ESI ou EDI alterado pela chamada");
    else
        std::swprintf(detalhe, 80, L"exceção %08lX, resto na pilha %d",
                      static_cast<unsigned long>(d.codigo), r.restoNaPilha);
    Verificar(!d.excecao && r.restoNaPilha == 0, oQue,
              d.excecao || r.restoNaPilha ? detalhe + d.mensagem : L"");
}

std::wstring PastaDoPrograma() {
    wchar_t caminho[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, caminho, MAX_PATH);
    std::wstring r(caminho, n);
    return r.substr(0, r.find_last_of(L"\\/") + 1);
}

}  // namespace

int main() {
    const std::wstring pasta = PastaDoPrograma();

    // A work folder with an accented name, holding a return file of header and trailer.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring trabalho =
        std::wstring(temp) + L"Folha São João " + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(trabalho.c_str(), nullptr);
    const std::wstring retorno = trabalho + L"retorno.txt";
    {
        HANDLE h = CreateFileW(retorno.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD escritos = 0;
        WriteFile(h, "H\r\nT\r\n", 6, &escritos, nullptr);
        CloseHandle(h);
    }

    HMODULE dll = LoadLibraryW((pasta + L"DllKavlo.dll").c_str());
    Verificar(dll != nullptr, "DllKavlo.dll carregada");
    if (!dll) return 1;
    void* gerar = reinterpret_cast<void*>(GetProcAddress(dll, "GerarArquivo"));
    void* importar = reinterpret_cast<void*>(GetProcAddress(dll, "ImportarArquivo"));
    Verificar(gerar && importar, "GerarArquivo e ImportarArquivo pelos nomes simples");
    Verificar(!GetProcAddress(dll, "GerarArquivo@24") && !GetProcAddress(dll, "_GerarArquivo@24") &&
                  !GetProcAddress(dll, "ImportarArquivo@28"),
              "nenhum nome decorado exportado");
    if (!gerar || !importar) return falhas;

    Cadeia um(L"1"), doze(L"12"), ano(L"2024"), vazio(L""),
        filtro(L"select matricula from SFP001JAN");
    Cadeia banco(L"C:\\dados\\folha.fdb"), saida(trabalho), resultado(trabalho + L"resultado.txt");
    Cadeia load(retorno), folhas(L"MENSAL"), s(L"S");
    Cadeia recusado(L"C:\\dados\\recusado.fdb"), semConexao(L"localhost:C:\\dados\\semconexao.fdb");
    Cadeia pontoFlutuante(L"C:\\dados\\pontoflutuante.fdb");

    // No fbclient.dll anywhere Windows looks for it yet.
    VerificarFalha(
        Chamar(gerar, {um.get(), doze.get(), ano.get(), banco.get(), saida.get(), filtro.get()}),
        "GerarArquivo sem fbclient.dll", L"fbclient.dll) não foi encontrada");
    VerificarFalha(Chamar(importar, {um.get(), ano.get(), banco.get(), resultado.get(), load.get(),
                                     folhas.get(), s.get()}),
                   "ImportarArquivo sem fbclient.dll", L"fbclient.dll) não foi encontrada");

    // Installing the client afterwards is enough: the next call finds it.
    SetDllDirectoryW((pasta + L"cliente").c_str());

    VerificarFalha(Chamar(gerar, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}),
                   "GerarArquivo com argumentos nulos: mês vazio",
                   L"'' is not a valid integer value");
    VerificarFalha(Chamar(gerar, {vazio.get(), vazio.get(), ano.get(), banco.get(), saida.get(),
                                  filtro.get()}),
                   "GerarArquivo com mês vazio", L"'' is not a valid integer value");
    VerificarFalha(
        Chamar(importar,
               {nullptr, nullptr, banco.get(), resultado.get(), load.get(), nullptr, nullptr}),
        "ImportarArquivo com argumentos nulos: mês vazio", L"'' is not a valid integer value");
    VerificarFalha(
        Chamar(gerar, {um.get(), doze.get(), ano.get(), recusado.get(), saida.get(), filtro.get()}),
        "conexão recusada pelo cliente",
        L"Não foi possível conectar ao banco de dados 'C:\\dados\\recusado.fdb': banco recusado "
        L"pelo cliente de teste");

    VerificarRetornoNormal(Chamar(gerar, {um.get(), doze.get(), ano.get(), semConexao.get(),
                                          saida.get(), filtro.get()}),
                           "GerarArquivo sem conexão retorna normalmente, pilha equilibrada");
    VerificarRetornoNormal(Chamar(importar, {um.get(), ano.get(), semConexao.get(), resultado.get(),
                                             load.get(), folhas.get(), s.get()}),
                           "ImportarArquivo sem conexão retorna normalmente, pilha equilibrada");

    // The host's floating-point settings: invalid operation, division by zero and overflow
    // unmasked, on the x87 unit and in SSE.
    const uint16_t x87Original = LerX87();
    const uint32_t mxcsrOriginal = LerMxcsr();
    DefinirPontoFlutuante(0x1332, 0x1900);
    // Read back: the processor may show reserved bits set.
    const uint16_t x87Host = LerX87();
    const uint32_t mxcsrHost = LerMxcsr();
    const Resultado conta = Chamar(
        gerar, {um.get(), doze.get(), ano.get(), pontoFlutuante.get(), saida.get(), filtro.get()});
    const uint16_t x87Depois = LerX87();
    const uint32_t mxcsrDepois = LerMxcsr();
    volatile double d = 1.5;
    d = d * 3;  // would trap on a flag the library left pending
    volatile long double ld = 2;
    ld = ld * 3;
    VerificarRetornoNormal(
        conta, "contas que transbordam dentro da chamada, exceções desmascaradas no host");
    Verificar(x87Depois == x87Host && mxcsrDepois == mxcsrHost,
              "controle x87 e MXCSR do host restaurados", Registros(x87Depois, mxcsrDepois));
    // The next call must not hang on a lock the previous one left held; its failure must also
    // hand the host's settings back.
    const Resultado seguinte = Chamar(
        gerar, {vazio.get(), vazio.get(), ano.get(), banco.get(), saida.get(), filtro.get()});
    const uint16_t x87Falha = LerX87();
    const uint32_t mxcsrFalha = LerMxcsr();
    DefinirPontoFlutuante(x87Original, mxcsrOriginal);
    VerificarFalha(seguinte, "chamada seguinte não trava e falha como deve",
                   L"'' is not a valid integer value");
    Verificar(x87Falha == x87Host && mxcsrFalha == mxcsrHost,
              "controle x87 e MXCSR do host restaurados também na falha",
              Registros(x87Falha, mxcsrFalha));
    (void)d;
    (void)ld;

    Verificar(FreeLibrary(dll) != 0, "DllKavlo.dll descarregada");
    DeleteFileW(retorno.c_str());
    DeleteFileW((trabalho + L"resultado.txt").c_str());
    RemoveDirectoryW(trabalho.c_str());
    std::printf("%d falha(s)\n", falhas);
    return falhas;
}
