// A host that uses DllKavlo.dll the way the payroll application does: it loads the DLL by name,
// finds the two operations by their plain names, passes strings from the system allocator and
// takes a failure with its own structured-exception frame (the way a Pascal try/except does), not
// with a C++ catch. Run under wine by scripts/windows.sh; prints one line per check and exits with
// the number of failed checks.
//
// The payroll application is a 32-bit program, and the 32-bit build is the real test. The 64-bit
// build runs where 32-bit programs cannot: its frame is the table-based one of x64 and it checks
// the registers x64 callees keep; the checks that only mean something in 32 bits (the decorated
// __stdcall names, the x87 control word) print "pulado: <check>: <why>" instead.
//
// Layout expected beside this program: DllKavlo.dll, and the stand-in client in
// cliente\fbclient.dll (found only once the host adds that folder to the DLL search).
#include <windows.h>
// After windows.h, which it needs.
#include <oleauto.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "DllKavlo.h"

namespace {

int falhas = 0;
int puladas = 0;

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

// A check that does not apply to this build, named so that it is never missed silently.
[[maybe_unused]] void Pular(const char* oQue, const char* porQue) {
    ++puladas;
    std::printf("pulado: %s: %s\n", oQue, porQue);
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

struct Resultado {
    Desfecho desfecho;
    int restoNaPilha = 0;
};

// ChamarMedindo's answer when a register the callee must keep came back changed.
constexpr int kRegistroAlterado = 0x7FFFFFFF;

// What the frame's handler saw. The message is only pointed to: it is read once the frames above
// the handler's (the library's among them) are unwound, as a Pascal host reads it.
struct Visto {
    DWORD codigo;
    DWORD flags;
    const wchar_t* texto;
    size_t tamanho;
};

void Anotar(Visto& visto, const EXCEPTION_RECORD* registro) {
    visto.codigo = registro->ExceptionCode;
    visto.flags = registro->ExceptionFlags;
    visto.texto = nullptr;
    visto.tamanho = 0;
    if (registro->ExceptionCode == KAVLO_CODIGO_FALHA && registro->NumberParameters >= 2) {
        visto.texto = reinterpret_cast<const wchar_t*>(registro->ExceptionInformation[0]);
        visto.tamanho = registro->ExceptionInformation[1];
    }
}

// The outcome of a call whose exception the frame took, after the unwind.
Desfecho Tomado(const Visto& visto, bool cadeiaIntegra) {
    Desfecho d;
    d.excecao = true;
    d.codigo = visto.codigo;
    d.flags = visto.flags;
    d.cadeiaIntegra = cadeiaIntegra;
    if (visto.texto) d.mensagem.assign(visto.texto);  // up to the NUL
    d.tamanhoInformado = visto.tamanho;
    return d;
}

#if defined(__i386__)

// An SEH registration record as a Pascal try/except puts it on the stack, with the place to go
// back to once the exception is taken.
struct Quadro {
    Quadro* anterior;
    void* tratador;
    void* retorno[5];  // __builtin_setjmp
    Visto visto;
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
    Anotar(q->visto, registro);
    // Unwind every frame above ours (the library's among them), as the Pascal runtime does, and
    // go back into the protected function; the message is read only after this.
    RtlUnwind(quadro, nullptr, registro, nullptr);
    q->cadeiaIntegra = QuadroAtual() == q;
    __builtin_longjmp(q->retorno, 1);
}

template <class Chamada>
__attribute__((noinline)) Desfecho Protegido(Chamada chamada) {
    Quadro q{};
    q.anterior = QuadroAtual();
    q.tratador = reinterpret_cast<void*>(&Tratador);
    InstalarQuadro(&q);
    if (__builtin_setjmp(q.retorno) == 0) {
        chamada();
        InstalarQuadro(q.anterior);
        return {};
    }
    InstalarQuadro(q.anterior);
    return Tomado(q.visto, q.cadeiaIntegra);
}

// ---- calling with a check of the stack and the registers the callee must keep

// Pushes the arguments right to left and calls. Returns how many bytes of them the callee left
// on the stack: 0 when it removed exactly its arguments, as __stdcall requires; kRegistroAlterado
// when EBX, ESI or EDI came back changed.
const wchar_t* const kRegistrosMantidos = L"EBX, ESI ou EDI";
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

Resultado Chamar(void* funcao, std::initializer_list<BSTR> argumentos) {
    const void* v[8] = {};
    int n = 0;
    for (BSTR a : argumentos) v[n++] = a;
    Resultado r;
    r.desfecho = Protegido([&] { r.restoNaPilha = ChamarMedindo(funcao, n, v); });
    return r;
}

#elif defined(__x86_64__)

// x64 has no frame chain on the stack: a function's handler sits in its unwind table, where a
// 64-bit compiler puts a try/except. ChamarMedindo below is such a function, written out so that
// it also checks the registers; TratadorKavlo is its handler.

// Where ChamarMedindo keeps, above the outgoing arguments, what its handler fills and the place to
// resume;
// the handler gets the frame as the stack pointer after the prologue.
constexpr size_t kVistoNaPilha = 56;
constexpr size_t kPousoNaPilha = 64;

// Called while the system looks for a frame to take an exception raised below ChamarMedindo. It
// takes it, as a Pascal except block does, unwinds every frame above its own (the library's among
// them) and resumes ChamarMedindo after the call; the message is read only after this.
extern "C" EXCEPTION_DISPOSITION TratadorKavlo(EXCEPTION_RECORD* registro, void* estabelecido,
                                               CONTEXT*, DISPATCHER_CONTEXT* despacho) {
    if (registro->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    char* pilha = static_cast<char*>(estabelecido);
    Anotar(**reinterpret_cast<Visto**>(pilha + kVistoNaPilha), registro);
    void* pouso = *reinterpret_cast<void**>(pilha + kPousoNaPilha);
    RtlUnwindEx(estabelecido, pouso, registro, nullptr, despacho->ContextRecord,
                despacho->HistoryTable);
    std::abort();  // RtlUnwindEx resumes at pouso and never comes back here
}

// Calls funcao with seven arguments (a callee reads only its own) under TratadorKavlo. Returns 0
// when RSP and every register an x64 callee must keep came back as they were, kRegistroAlterado
// when not, and kExcecao when the handler took an exception and filled *visto.
constexpr int kExcecao = -1;
const wchar_t* const kRegistrosMantidos = L"RSP, RBX, RBP, RSI, RDI ou R12 a R15";
extern "C" int ChamarMedindo(void* funcao, const void* const* argumentos, Visto* visto);
asm(R"(
    .text
    .globl ChamarMedindo
    .def ChamarMedindo; .scl 2; .type 32; .endef
    .seh_proc ChamarMedindo
ChamarMedindo:
    pushq %rbp
    .seh_pushreg %rbp
    pushq %rbx
    .seh_pushreg %rbx
    pushq %rsi
    .seh_pushreg %rsi
    pushq %rdi
    .seh_pushreg %rdi
    pushq %r12
    .seh_pushreg %r12
    pushq %r13
    .seh_pushreg %r13
    pushq %r14
    .seh_pushreg %r14
    pushq %r15
    .seh_pushreg %r15
    subq $72, %rsp
    .seh_stackalloc 72
    .seh_endprologue
    .seh_handler TratadorKavlo, @except
    movq %r8, 56(%rsp)
    leaq 5f(%rip), %rax
    movq %rax, 64(%rsp)
    movq %rcx, %rax
    movq %rdx, %r10
    movq 32(%r10), %r11
    movq %r11, 32(%rsp)
    movq 40(%r10), %r11
    movq %r11, 40(%rsp)
    movq 48(%r10), %r11
    movq %r11, 48(%rsp)
    movq (%r10), %rcx
    movq 8(%r10), %rdx
    movq 16(%r10), %r8
    movq 24(%r10), %r9
    movq %rsp, %r12
    movabsq $0x5EB0000000000001, %rbx
    movabsq $0x5EB0000000000002, %rbp
    movabsq $0x5EB0000000000003, %rsi
    movabsq $0x5EB0000000000004, %rdi
    movabsq $0x5EB0000000000005, %r13
    movabsq $0x5EB0000000000006, %r14
    movabsq $0x5EB0000000000007, %r15
    call *%rax
    cmpq %rsp, %r12
    jne 3f
    movabsq $0x5EB0000000000001, %rax
    cmpq %rax, %rbx
    jne 3f
    movabsq $0x5EB0000000000002, %rax
    cmpq %rax, %rbp
    jne 3f
    movabsq $0x5EB0000000000003, %rax
    cmpq %rax, %rsi
    jne 3f
    movabsq $0x5EB0000000000004, %rax
    cmpq %rax, %rdi
    jne 3f
    movabsq $0x5EB0000000000005, %rax
    cmpq %rax, %r13
    jne 3f
    movabsq $0x5EB0000000000006, %rax
    cmpq %rax, %r14
    jne 3f
    movabsq $0x5EB0000000000007, %rax
    cmpq %rax, %r15
    jne 3f
    xorl %eax, %eax
    jmp 4f
3:  movl $0x7FFFFFFF, %eax
    jmp 4f
5:  movl $-1, %eax
4:  addq $72, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rdi
    popq %rsi
    popq %rbx
    popq %rbp
    ret
    .seh_endproc
)");

Resultado Chamar(void* funcao, std::initializer_list<BSTR> argumentos) {
    const void* v[8] = {};
    int n = 0;
    for (BSTR a : argumentos) v[n++] = a;
    Visto visto{};
    Resultado r;
    r.restoNaPilha = ChamarMedindo(funcao, v, &visto);
    if (r.restoNaPilha == kExcecao) {
        r.restoNaPilha = 0;
        // No frame chain to check on x64: being back here is the unwind's work.
        r.desfecho = Tomado(visto, true);
    }
    return r;
}

#else
#error "Host de teste para x86 (32 ou 64 bits) apenas"
#endif

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
// A 32-bit Pascal host sets both units; a 64-bit one computes in SSE only and leaves the x87
// control word alone.
void DefinirPontoFlutuante(uint16_t cw, uint32_t csr) {
#if defined(__i386__)
    asm volatile("fnclex\n\tfldcw %0" : : "m"(cw));
#else
    (void)cw;
#endif
    asm volatile("ldmxcsr %0" : : "m"(csr));
}

std::wstring Registros(uint16_t x87, uint32_t mxcsr) {
    wchar_t texto[64];
    std::swprintf(texto, 64, L"x87 %04X, MXCSR %04lX", x87, static_cast<unsigned long>(mxcsr));
    return texto;
}

// The x87 control word is the host's own state only in 32 bits.
void VerificarX87(bool ok, const char* oQue, const std::wstring& detalhe) {
#if defined(__i386__)
    Verificar(ok, oQue, detalhe);
#else
    (void)ok;
    (void)detalhe;
    Pular(oQue, "em 64 bits o host calcula em SSE e não arma o x87");
#endif
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
        std::swprintf(detalhe, 80, L"%ls alterado pela chamada", kRegistrosMantidos);
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
#if defined(__i386__)
    Verificar(!GetProcAddress(dll, "GerarArquivo@24") && !GetProcAddress(dll, "_GerarArquivo@24") &&
                  !GetProcAddress(dll, "ImportarArquivo@28"),
              "nenhum nome decorado exportado");
#else
    Pular("nenhum nome decorado exportado", "em 64 bits não há __stdcall nem nomes decorados");
#endif
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
        // The client's own text stays out of the host's message: its code is told instead.
        L"Não foi possível conectar ao banco de dados 'C:\\dados\\recusado.fdb': o banco de dados "
        L"recusou a operação (erro 335544382 do Firebird)");

    VerificarRetornoNormal(Chamar(gerar, {um.get(), doze.get(), ano.get(), semConexao.get(),
                                          saida.get(), filtro.get()}),
                           "GerarArquivo sem conexão retorna normalmente, pilha equilibrada");
    VerificarRetornoNormal(Chamar(importar, {um.get(), ano.get(), semConexao.get(), resultado.get(),
                                             load.get(), folhas.get(), s.get()}),
                           "ImportarArquivo sem conexão retorna normalmente, pilha equilibrada");

    // A copy of the DLL finds the settings file beside its own file, in a folder with an accented
    // name: a malformed one fails the call naming it and the line.
    {
        const std::wstring copia = trabalho + L"DllKavlo.dll", conf = trabalho + L"DllKavlo.conf";
        CopyFileW((pasta + L"DllKavlo.dll").c_str(), copia.c_str(), FALSE);
        HANDLE h = CreateFileW(conf.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD escritos = 0;
        WriteFile(h, "usuario = ana\r\nsem sinal de igual\r\n", 35, &escritos, nullptr);
        CloseHandle(h);
        HMODULE outra = LoadLibraryW(copia.c_str());
        Verificar(outra != nullptr, "cópia da DllKavlo.dll carregada");
        if (outra) {
            void* gerarCopia = reinterpret_cast<void*>(GetProcAddress(outra, "GerarArquivo"));
            const std::wstring esperado = L"Jo\u00E3o " + std::to_wstring(GetCurrentProcessId()) +
                                          L"\\DllKavlo.conf', linha 2: a linha não tem '='";
            VerificarFalha(Chamar(gerarCopia, {um.get(), doze.get(), ano.get(), semConexao.get(),
                                               saida.get(), filtro.get()}),
                           "DllKavlo.conf mal formado ao lado da cópia", esperado.c_str());
            FreeLibrary(outra);
        }
        DeleteFileW(conf.c_str());
        DeleteFileW(copia.c_str());
    }

    // The host's floating-point settings: invalid operation, division by zero and overflow
    // unmasked, in SSE and (32 bits) on the x87 unit.
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
    Verificar(mxcsrDepois == mxcsrHost, "MXCSR do host restaurado",
              Registros(x87Depois, mxcsrDepois));
    VerificarX87(x87Depois == x87Host, "controle x87 do host restaurado",
                 Registros(x87Depois, mxcsrDepois));
    // The next call must not hang on a lock the previous one left held; its failure must also
    // hand the host's settings back.
    const Resultado seguinte = Chamar(
        gerar, {vazio.get(), vazio.get(), ano.get(), banco.get(), saida.get(), filtro.get()});
    const uint16_t x87Falha = LerX87();
    const uint32_t mxcsrFalha = LerMxcsr();
    DefinirPontoFlutuante(x87Original, mxcsrOriginal);
    VerificarFalha(seguinte, "chamada seguinte não trava e falha como deve",
                   L"'' is not a valid integer value");
    Verificar(mxcsrFalha == mxcsrHost, "MXCSR do host restaurado também na falha",
              Registros(x87Falha, mxcsrFalha));
    VerificarX87(x87Falha == x87Host, "controle x87 do host restaurado também na falha",
                 Registros(x87Falha, mxcsrFalha));
    (void)d;
    (void)ld;

    Verificar(FreeLibrary(dll) != 0, "DllKavlo.dll descarregada");
    DeleteFileW(retorno.c_str());
    DeleteFileW((trabalho + L"resultado.txt").c_str());
    RemoveDirectoryW(trabalho.c_str());
    std::printf("%d falha(s), %d verificação(ões) pulada(s)\n", falhas, puladas);
    return falhas;
}
