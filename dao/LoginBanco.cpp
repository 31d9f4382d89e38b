#include "dao/LoginBanco.h"

#include <ibase.h>
#include <iberror.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/Permissoes.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kavlo {
namespace {

std::mutex mutexLogin;
std::optional<LoginBanco> loginDefinido;
std::set<Caminho> avisados;

void AvisarSeLegivel(const Caminho& arquivo) {
    if (!LegivelPorOutros(arquivo)) return;
    {
        std::lock_guard<std::mutex> trava(mutexLogin);
        if (!avisados.insert(arquivo).second) return;
    }
    const std::string nome = NomeParaMensagem(arquivo);
#ifdef _WIN32
    const std::string como =
        "deixe nas permissões do arquivo só o seu dono, os Administradores e o SYSTEM";
#else
    const std::string como = "chmod 600 '" + nome + "'";
#endif
    std::fprintf(stderr,
                 "Aviso: o arquivo de configuração '%s' guarda a senha do banco de dados e pode "
                 "ser lido por outros usuários além do seu dono; restrinja-o (%s).\n",
                 nome.c_str(), como.c_str());
    std::fflush(stderr);
}

// What an operator whose login was refused should look at.
std::string OrigemDoLogin(const LoginBanco& login) {
    if (!login.arquivo.empty())
        return "O usuário (" + ParaMensagem(login.usuario) + ") e a senha vêm de '" +
               NomeParaMensagem(login.arquivo) +
               "': confira-os ali e, num servidor, se o usuário existe no método de autenticação "
               "do servidor (veja o README).";
    const Caminho biblioteca = ArquivoDestaBiblioteca();
    return "A DllKavlo entrou como " + std::string(kUsuarioBanco) +
           " com a senha de fábrica; se o servidor usa outro usuário ou outra senha, informe-os "
           "em '" +
           NomeParaMensagem(biblioteca.parent_path() / std::string(kArquivoDeConfiguracao)) +
           "' (veja o README).";
}

// A role that the server did not give (not granted to the user, or not there) would show only
// later, as one refusal among many; said at once, it names what to do.
void ConferirPapel(fb::Conexao& conexao, const LoginBanco& login) {
    std::u16string papel;
    {
        fb::Transacao t(conexao, fb::ModoTransacao::Leitura);
        fb::Comando c(t, std::string_view("select current_role from RDB$DATABASE"),
                      "conferir o papel do usuário no banco de dados");
        fb::Cursor r = c.Abrir();
        if (r.Proximo()) papel = r.Texto(0u);
    }
    if (MesmoNomeNoBanco(ParaUtf8(papel), login.papel)) return;
    conexao.Fechar();
    throw Erro("O papel " + ParaMensagem(login.papel) + " não foi concedido ao usuário " +
               ParaMensagem(login.usuario) +
               " neste banco de dados, ou não existe; sem ele a DllKavlo não tem os direitos de "
               "que precisa. O dono do banco o concede com: kavlo preparar --banco <banco> "
               "--usuario " +
               ParaMensagem(login.usuario) + ".");
}

}  // namespace

bool MesmoNomeNoBanco(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    auto maiuscula = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    for (size_t i = 0; i < a.size(); ++i)
        if (maiuscula(a[i]) != maiuscula(b[i])) return false;
    return true;
}

Caminho ArquivoDestaBiblioteca() {
#ifdef _WIN32
    HMODULE modulo = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&ArquivoDestaBiblioteca), &modulo))
        return {};
    std::wstring nome(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(modulo, nome.data(), static_cast<DWORD>(nome.size()));
        if (n == 0) return {};
        if (n < nome.size()) {
            nome.resize(n);
            return Caminho(nome);
        }
        nome.resize(nome.size() * 2);  // cut: a longer path
    }
#else
    // The mapping that holds this function names its file exactly; dladdr gives the main
    // program as it was started (argv[0]), which may be relative to another folder.
    const auto endereco = reinterpret_cast<uintptr_t>(&ArquivoDestaBiblioteca);
    if (std::FILE* mapas = std::fopen("/proc/self/maps", "re")) {
        std::string arquivo;
        char linha[4096 + 256];
        while (arquivo.empty() && std::fgets(linha, sizeof linha, mapas)) {
            unsigned long long inicio = 0, fim = 0;
            if (std::sscanf(linha, "%llx-%llx", &inicio, &fim) != 2 || endereco < inicio ||
                endereco >= fim)
                continue;
            const char* barra = std::strchr(linha, '/');
            if (!barra) break;
            arquivo = barra;
            while (!arquivo.empty() && arquivo.back() == '\n') arquivo.pop_back();
        }
        std::fclose(mapas);
        if (!arquivo.empty()) return arquivo;
    }
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&ArquivoDestaBiblioteca), &info) || !info.dli_fname)
        return {};
    std::error_code ec;
    const Caminho arquivo = std::filesystem::absolute(info.dli_fname, ec);
    return ec ? Caminho(info.dli_fname) : arquivo;
#endif
}

LoginBanco LoginDaPasta(const Caminho& pasta) {
    LoginBanco login;
    const Caminho arquivo = pasta / std::string(kArquivoDeConfiguracao);
    const auto configuracao = Configuracao::Ler(arquivo, {"usuario", "senha", "papel"});
    if (!configuracao) return login;
    AvisarSeLegivel(arquivo);
    login.arquivo = arquivo;
    const auto* usuario = configuracao->Buscar("usuario");
    const auto* senha = configuracao->Buscar("senha");
    const auto* papel = configuracao->Buscar("papel");
    if (usuario) {
        login.usuario = usuario->texto;
        Apagar(login.senha);  // the design's password is SYSDBA's, never another user's
    }
    if (senha) login.senha = senha->texto;
    if (papel) login.papel = papel->texto;
    return login;
}

LoginBanco LoginDoBanco() {
    {
        std::lock_guard<std::mutex> trava(mutexLogin);
        if (loginDefinido) return *loginDefinido;
    }
    return LoginDaPasta(ArquivoDestaBiblioteca().parent_path());
}

void DefinirLogin(std::optional<LoginBanco> login) {
    std::lock_guard<std::mutex> trava(mutexLogin);
    loginDefinido = std::move(login);
}

void AbrirBancoDaFolha(fb::Conexao& conexao, std::u16string_view local) {
    const LoginBanco login = LoginDoBanco();
    try {
        conexao.Abrir(local, login.usuario, login.senha, fb::EscritaForcada::Manter, login.papel);
    } catch (const ErroBanco& e) {
        if (!e.Tem(isc_login)) throw;
        throw e.Com(std::string(e.what()) + ". " + OrigemDoLogin(login));
    }
    if (!login.papel.empty()) ConferirPapel(conexao, login);
}

}  // namespace kavlo
