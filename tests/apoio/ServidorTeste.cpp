#include "tests/apoio/ServidorTeste.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <thread>

#include "entry/Conexao.h"
#include "tests/apoio/LinhaRetorno.h"
#include "util/Codificacao.h"

namespace kavlo::teste {

namespace fs = std::filesystem;

bool ServidorFirebirdResponde() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(3050);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

std::string LinhaDeParcela(std::string_view matricula, std::string_view valor) {
    return LinhaDeRetorno({{retorno::Tipo, "D"},
                           {retorno::Nome, "ANA"},
                           {retorno::Registro, "00000000"},
                           {retorno::MatriculaNumero, matricula.substr(0, 6)},
                           {retorno::MatriculaDigito, matricula.substr(7, 1)},
                           {retorno::CodigoDesconto, "35"},
                           {retorno::Parcela, valor},
                           {retorno::Contadores, "001012"}});
}

PastaDoServidor::PastaDoServidor() {
    std::random_device rd;
    const fs::path pasta = fs::path("/tmp/firebird") / ("kavlo-teste-" + std::to_string(rd()));
    std::error_code ec;
    if (!fs::create_directory(pasta, ec)) return;
    fs::permissions(pasta, fs::perms::all, ec);
    caminho_ = pasta;
}

PastaDoServidor::~PastaDoServidor() {
    if (caminho_.empty()) return;
    dmConexao().fdConexao.Fechar();
    std::error_code ec;
    fs::remove_all(caminho_, ec);
}

std::u16string PastaDoServidor::Local(const std::string& arquivo) const {
    return u"localhost:" + DeUtf8((caminho_ / arquivo).string());
}

void PastaDoServidor::Receber(const fs::path& banco, const std::string& arquivo) const {
    const fs::path destino = caminho_ / arquivo;
    fs::copy_file(banco, destino, fs::copy_options::overwrite_existing);
    fs::permissions(destino, fs::perms::owner_read | fs::perms::owner_write |
                                 fs::perms::group_read | fs::perms::group_write |
                                 fs::perms::others_read | fs::perms::others_write);
}

std::string SemServidor(const PastaDoServidor& pasta) {
    if (!ServidorFirebirdResponde())
        return "Nenhum servidor Firebird responde em localhost:3050 "
               "(scripts/servidor-firebird.sh instala e inicia um).";
    if (!pasta.Valida()) return "Não foi possível criar uma pasta em /tmp/firebird.";
    return {};
}

void DerrubarServidorFirebird() {
    if (std::system("pkill -KILL -x fbguard; pkill -KILL -x firebird") < 0)
        throw std::runtime_error("pkill falhou");
    // Gone means no process left holding the server's files (the security database the start
    // script opens embedded), not only a closed port.
    for (int i = 0; i < 200; ++i) {
        if (!ServidorFirebirdResponde() &&
            std::system("pgrep -x fbguard >/dev/null || pgrep -x firebird >/dev/null") != 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void IniciarServidorFirebird() {
    const std::string script =
        std::string(KAVLO_FONTES) + "/scripts/servidor-firebird.sh >/dev/null 2>&1";
    // A slow machine may still be releasing what the killed server held: try a few times.
    for (int tentativa = 0; tentativa < 5; ++tentativa) {
        if (std::system(script.c_str()) == 0 && ServidorFirebirdResponde()) return;
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    throw std::runtime_error("o servidor Firebird não voltou a responder");
}

ProxyTcp::ProxyTcp() {
    escuta_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (escuta_ < 0 || ::bind(escuta_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(escuta_, 16) != 0 ||
        ::getsockname(escuta_, reinterpret_cast<sockaddr*>(&a), &n) != 0 || ::pipe(sinal_) != 0)
        throw std::runtime_error("não foi possível abrir o proxy");
    porta_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Laco(); });
}

ProxyTcp::~ProxyTcp() {
    fim_ = true;
    Acordar();
    thread_.join();
    for (const Par& p : pares_) {
        ::close(p.cliente);
        ::close(p.servidor);
    }
    ::close(escuta_);
    ::close(sinal_[0]);
    ::close(sinal_[1]);
}

std::u16string ProxyTcp::Local(const PastaDoServidor& pasta, const std::string& arquivo) const {
    return DeUtf8("localhost/" + std::to_string(porta_) + ":" +
                  (pasta.Caminho() / arquivo).string());
}

void ProxyTcp::Acordar() {
    const char c = 0;
    if (::write(sinal_[1], &c, 1) < 0) return;
}

void ProxyTcp::Cortar() {
    {
        std::lock_guard<std::mutex> trava(mutex_);
        for (Par& p : pares_) p.fecharEm = std::chrono::steady_clock::now();
    }
    Acordar();
    // Until the loop has closed them, "before anything more reaches the server" would not hold.
    for (;;) {
        {
            std::lock_guard<std::mutex> trava(mutex_);
            if (std::none_of(pares_.begin(), pares_.end(), [](const Par& p) {
                    return p.fecharEm <= std::chrono::steady_clock::now();
                }))
                return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void ProxyTcp::EngolirRespostas(std::chrono::milliseconds depois) {
    std::lock_guard<std::mutex> trava(mutex_);
    for (Par& p : pares_) {
        p.engolir = true;
        p.fecharEm = std::chrono::steady_clock::now() + depois;
    }
}

void ProxyTcp::Laco() {
    std::vector<char> buf(65536);
    while (!fim_) {
        std::vector<pollfd> fds = {{escuta_, POLLIN, 0}, {sinal_[0], POLLIN, 0}};
        {
            std::lock_guard<std::mutex> trava(mutex_);
            for (const Par& p : pares_) {
                fds.push_back({p.cliente, POLLIN, 0});
                fds.push_back({p.servidor, POLLIN, 0});
            }
        }
        ::poll(fds.data(), fds.size(), 20);
        std::lock_guard<std::mutex> trava(mutex_);
        if (fds[1].revents) {
            char c;
            while (::read(sinal_[0], &c, 1) < 0 && errno == EINTR) {
            }
        }
        for (size_t i = 0; i < pares_.size(); ++i) {
            Par& p = pares_[i];
            bool fechar = p.fecharEm <= std::chrono::steady_clock::now();
            for (int lado = 0; lado < 2 && !fechar; ++lado) {
                const pollfd& f = fds[2 + 2 * i + static_cast<size_t>(lado)];
                if (!(f.revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const ssize_t n = ::read(f.fd, buf.data(), buf.size());
                if (n <= 0) {
                    fechar = true;
                    break;
                }
                const int destino = lado == 0 ? p.servidor : p.cliente;
                if (lado == 1 && p.engolir) continue;
                for (ssize_t feito = 0; feito < n;) {
                    const ssize_t w =
                        ::write(destino, buf.data() + feito, static_cast<size_t>(n - feito));
                    if (w <= 0) {
                        fechar = true;
                        break;
                    }
                    feito += w;
                }
            }
            if (fechar) {
                ::shutdown(p.cliente, SHUT_RDWR);
                ::shutdown(p.servidor, SHUT_RDWR);
                ::close(p.cliente);
                ::close(p.servidor);
                pares_.erase(pares_.begin() + static_cast<std::ptrdiff_t>(i));
                // The poll entries no longer match the pairs: look again on the next round.
                break;
            }
        }
        if (fds[0].revents & POLLIN) {
            const int cliente = ::accept(escuta_, nullptr, nullptr);
            if (cliente < 0) continue;
            const int servidor = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(3050);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (servidor < 0 ||
                ::connect(servidor, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ::close(cliente);
                if (servidor >= 0) ::close(servidor);
                continue;
            }
            pares_.push_back({cliente, servidor});
        }
    }
}

}  // namespace kavlo::teste
