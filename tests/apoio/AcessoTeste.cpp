#include "tests/apoio/AcessoTeste.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <stdexcept>
#include <thread>

#include "dao/BancoFolha.h"
#include "dao/firebird/Firebird.h"
#include "tests/apoio/BancoTeste.h"
#include "util/Codificacao.h"

namespace kavlo::teste {

namespace fs = std::filesystem;

BibliotecaCopiada::BibliotecaCopiada(const fs::path& original, const fs::path& pasta) {
    const fs::path copia = pasta / original.filename();
    fs::copy_file(original, copia, fs::copy_options::overwrite_existing);
    handle_ = ::dlopen(copia.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("dlopen: ") + ::dlerror());
    gerar_ = reinterpret_cast<decltype(&GerarArquivo)>(::dlsym(handle_, "GerarArquivo"));
    importar_ = reinterpret_cast<decltype(&ImportarArquivo)>(::dlsym(handle_, "ImportarArquivo"));
    if (!gerar_ || !importar_)
        throw std::runtime_error("a cópia da biblioteca não exporta as operações");
}

BibliotecaCopiada::~BibliotecaCopiada() {
    if (handle_) ::dlclose(handle_);
}

std::string ErroPadraoDurante(const std::function<void()>& f) {
    PastaTemporaria pasta;
    const fs::path arquivo = pasta.Caminho() / "stderr.txt";
    std::fflush(stderr);
    const int antes = ::dup(STDERR_FILENO);
    const int novo = ::open(arquivo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(novo, STDERR_FILENO);
    ::close(novo);
    struct Restaurar {
        int antes;
        ~Restaurar() {
            std::fflush(stderr);
            ::dup2(antes, STDERR_FILENO);
            ::close(antes);
        }
    };
    {
        Restaurar restaurar{antes};
        f();
    }
    return LerArquivo(arquivo);
}

namespace {

void ComoSysdba(const std::u16string& local, const std::string& sql) {
    fb::Conexao c;
    c.Abrir(local, kUsuarioBanco, kSenhaBanco);
    fb::Transacao t(c, fb::ModoTransacao::Escrita);
    fb::Comando(t, std::string_view(sql), "administrar os usuários do servidor de teste")
        .Executar();
    t.Commit();
}

std::string Sorteio(std::mt19937_64& gerador, size_t n) {
    static constexpr char kLetras[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
    std::uniform_int_distribution<size_t> d(0, sizeof kLetras - 2);
    std::string r;
    for (size_t i = 0; i < n; ++i) r += kLetras[d(gerador)];
    return r;
}

}  // namespace

UsuarioDoServidor::UsuarioDoServidor(std::u16string local) : local_(std::move(local)) {
    std::random_device rd;
    std::mt19937_64 gerador((static_cast<uint64_t>(rd()) << 32) ^ rd());
    nome_ = "KAVLO_T" + std::to_string(gerador() % 1000000000);
    // Letters and digits only: it goes into the statement as a literal.
    senha_ = "Sx" + Sorteio(gerador, 22);
    ComoSysdba(local_, "create user " + nome_ + " password '" + senha_ + "'");
}

UsuarioDoServidor::~UsuarioDoServidor() {
    try {
        ComoSysdba(local_, "drop user " + nome_);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "o usuário de teste %s não foi removido do servidor: %s\n",
                     nome_.c_str(), e.what());
    }
}

}  // namespace kavlo::teste
