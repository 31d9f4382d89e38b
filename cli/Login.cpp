#include "cli/Login.h"

#include <fmt/core.h>

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "dao/BancoFolha.h"
#include "dao/LoginBanco.h"
#include "util/Codificacao.h"
#include "util/Configuracao.h"
#include "util/Erros.h"

namespace kavlo::cli {
namespace {

termios terminalAntes;
using AcaoDeSinal = struct sigaction;

// Ctrl-C while the password is typed: the terminal gets its echo back before the tool ends.
extern "C" void AoInterromperSenha(int sinal) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &terminalAntes);
    const char quebra = '\n';
    (void)!::write(STDERR_FILENO, &quebra, 1);
    ::_exit(128 + sinal);
}

// One line from standard input, read a byte at a time so that nothing after it is taken.
bool LerLinha(std::string& linha) {
    char c;
    bool algo = false;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return algo;
        algo = true;
        if (c == '\n') break;
        linha += c;
    }
    if (!linha.empty() && linha.back() == '\r') linha.pop_back();
    return true;
}

std::string PedirSenha(const std::string& usuario) {
    std::string senha;
    bool lida;
    if (::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &terminalAntes) == 0) {
        // The tool blocks both signals for its own waiting thread, which starts later: while the
        // password is typed they end the tool here, the echo given back.
        AcaoDeSinal acao{}, antesInt{}, antesTerm{};
        acao.sa_handler = AoInterromperSenha;
        ::sigaction(SIGINT, &acao, &antesInt);
        ::sigaction(SIGTERM, &acao, &antesTerm);
        sigset_t sinais;
        sigemptyset(&sinais);
        sigaddset(&sinais, SIGINT);
        sigaddset(&sinais, SIGTERM);
        pthread_sigmask(SIG_UNBLOCK, &sinais, nullptr);
        // No echo before the prompt shows, so that nothing typed after it is echoed.
        termios semEco = terminalAntes;
        semEco.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &semEco);
        fmt::print(stderr, "Senha do usuário {} no banco de dados: ", ParaMensagem(usuario));
        std::fflush(stderr);
        lida = LerLinha(senha);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &terminalAntes);
        pthread_sigmask(SIG_BLOCK, &sinais, nullptr);
        ::sigaction(SIGINT, &antesInt, nullptr);
        ::sigaction(SIGTERM, &antesTerm, nullptr);
        fmt::print(stderr, "\n");
    } else {
        lida = LerLinha(senha);
    }
    if (!lida || senha.empty())
        throw Erro("A senha do usuário " + ParaMensagem(usuario) +
                   " no banco de dados não foi informada. Digite-a quando pedida, passe-a numa "
                   "linha pela entrada padrão, ou grave-a no arquivo DllKavlo.conf ao lado do "
                   "kavlo (veja o README).");
    return senha;
}

}  // namespace

void RegistrarLogin(CLI::App& app, OpcoesLogin& opcoes) {
    app.add_option("--usuario", opcoes.usuario,
                   "Usuário do banco de dados (em vez do de DllKavlo.conf ou do SYSDBA); a senha "
                   "vem do arquivo, ou é pedida");
    app.add_option("--papel", opcoes.papel,
                   "Papel SQL do usuário no banco de dados (por exemplo KAVLO_OPERADOR)");
}

void DefinirLoginDaFerramenta(const OpcoesLogin& opcoes, const std::string& banco) {
    LoginBanco login = LoginDaPasta(ArquivoDestaBiblioteca().parent_path());
    bool pedir = login.senha.empty();
    if (!opcoes.usuario.empty()) {
        // A password is kept only for the settings file's own user; without a file, a user named
        // here is asked for it, SYSDBA too.
        pedir = login.arquivo.empty() || !MesmoNomeNoBanco(opcoes.usuario, login.usuario) ||
                login.senha.empty();
        login.usuario = opcoes.usuario;
    }
    if (!opcoes.papel.empty()) login.papel = opcoes.papel;
    // Embedded, the engine takes the user as given and no password is checked.
    const bool servidor = !banco.empty() && !ArquivoDoBanco(DeUtf8(banco)).has_value();
    if (pedir) Apagar(login.senha);
    if (pedir && servidor) login.senha = PedirSenha(login.usuario);
    DefinirLogin(std::move(login));
}

}  // namespace kavlo::cli
