// Where the Firebird client library comes from. Linux links libfbclient; the Windows build loads
// fbclient.dll at run time so that a missing client is a clear error, not a failed load.
#include <firebird/Interface.h>

#include "dao/firebird/Firebird.h"
#include "dao/firebird/FirebirdInterno.h"
#include "util/Erros.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "util/Codificacao.h"
#else
#include <langinfo.h>

#include <cstring>
#endif

namespace kavlo::fb {

#ifdef _WIN32
namespace {

using FuncaoMestre = Firebird::IMaster*(ISC_EXPORT*)();

// The system's text for a Windows error code, in the user's language.
std::string TextoDoErro(DWORD codigo) {
    wchar_t* texto = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, codigo, 0, reinterpret_cast<wchar_t*>(&texto), 0, nullptr);
    std::u16string r =
        n && texto ? std::u16string(reinterpret_cast<const char16_t*>(texto), n) : u"";
    if (texto) LocalFree(texto);
    while (!r.empty() &&
           (r.back() == u'\r' || r.back() == u'\n' || r.back() == u' ' || r.back() == u'.'))
        r.pop_back();
    return "erro " + std::to_string(codigo) + (r.empty() ? "" : ": " + ParaUtf8(r));
}

// The folder of DllKavlo.dll itself, with its closing separator ("" when it cannot be told).
std::wstring PastaDaBiblioteca() {
    HMODULE modulo = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&PastaDaBiblioteca), &modulo))
        return {};
    std::wstring caminho(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(modulo, caminho.data(), static_cast<DWORD>(caminho.size()));
        if (n == 0) return {};
        if (n < caminho.size()) {
            caminho.resize(n);
            break;
        }
        caminho.resize(caminho.size() * 2);
    }
    const auto barra = caminho.find_last_of(L"\\/");
    return barra == std::wstring::npos ? std::wstring() : caminho.substr(0, barra + 1);
}

// Loads the client: first beside DllKavlo.dll, where the installation puts it, then wherever
// Windows looks for a DLL (the host's folder, the system folders, PATH). Throws naming what is
// missing or wrong.
FuncaoMestre CarregarCliente() {
    const std::wstring pasta = PastaDaBiblioteca();
    HMODULE dll = nullptr;
    DWORD erro = ERROR_MOD_NOT_FOUND;
    if (!pasta.empty()) {
        dll = LoadLibraryExW((pasta + L"fbclient.dll").c_str(), nullptr,
                             LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!dll) erro = GetLastError();
    }
    if (!dll && erro == ERROR_MOD_NOT_FOUND) {
        dll = LoadLibraryW(L"fbclient.dll");
        if (!dll) erro = GetLastError();
    }
    const std::string onde = ParaMensagem(std::u16string(pasta.begin(), pasta.end()));
    if (!dll) {
        if (erro == ERROR_MOD_NOT_FOUND)
            throw ErroBanco(
                "A biblioteca cliente do Firebird (fbclient.dll) não foi encontrada: instale o "
                "cliente Firebird de 32 bits na pasta da DllKavlo.dll (" +
                onde + ") ou na pasta do programa.");
        throw ErroBanco(
            "A biblioteca cliente do Firebird (fbclient.dll) não pôde ser carregada (" +
            TextoDoErro(erro) +
            "): ela precisa ser a de 32 bits, com as DLLs de que depende ao lado dela.");
    }
    auto funcao = reinterpret_cast<FuncaoMestre>(
        reinterpret_cast<void*>(GetProcAddress(dll, "fb_get_master_interface")));
    if (!funcao) {
        FreeLibrary(dll);
        throw ErroBanco(
            "A fbclient.dll encontrada não é de um cliente Firebird 3 ou posterior (falta "
            "fb_get_master_interface): instale o cliente do Firebird 3 de 32 bits.");
    }
    return funcao;
}

}  // namespace
#endif

Firebird::IMaster* Mestre() {
#ifdef _WIN32
    // Only a successful load is kept: a client installed after a failed call is found by the next.
    static std::atomic<FuncaoMestre> carregada{nullptr};
    static std::mutex carregando;
    FuncaoMestre funcao = carregada.load(std::memory_order_acquire);
    if (!funcao) {
        std::lock_guard<std::mutex> trava(carregando);
        funcao = carregada.load(std::memory_order_relaxed);
        if (!funcao) {
            funcao = CarregarCliente();
            carregada.store(funcao, std::memory_order_release);
        }
    }
    return funcao();
#else
    static Firebird::IMaster* mestre = Firebird::fb_get_master_interface();
    return mestre;
#endif
}

#ifndef _WIN32
// The client converts a database path from the locale's code set to UTF-8 and back (to open the
// file, or to parse "host:path"), with converters it makes at its first use and keeps for the
// life of the process. A host that never set its locale runs in "C", whose code set is ASCII: an
// accented path would then fail ("Cannot transliterate character between character sets"), even
// under LC_ALL=C.UTF-8. So every attach runs with a UTF-8 character type on its own thread, which
// leaves the host's locale alone and has the client make UTF-8 converters at its first use.
NomesDeArquivoEmUtf8::NomesDeArquivoEmUtf8() {
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0) return;
    const locale_t atual = duplocale(uselocale(static_cast<locale_t>(0)));
    if (!atual) return;
    for (const char* nome : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
        utf8_ = newlocale(LC_CTYPE_MASK, nome, atual);
        if (utf8_) break;
    }
    if (!utf8_) {
        freelocale(atual);
        return;
    }
    anterior_ = uselocale(utf8_);
}

NomesDeArquivoEmUtf8::~NomesDeArquivoEmUtf8() {
    if (!utf8_) return;
    uselocale(anterior_);
    freelocale(utf8_);
}
#endif

}  // namespace kavlo::fb
