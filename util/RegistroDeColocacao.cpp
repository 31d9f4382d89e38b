#include "util/RegistroDeColocacao.h"

#include <cerrno>
#include <cstdlib>

#include "util/Codificacao.h"
#include "util/SistemaDeArquivos.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace kavlo {
namespace {

constexpr std::string_view kCabecalhoRegistro = "KAVLO-COLOCACAO 1";

std::string Escapar(std::string_view texto) {
    std::string r;
    for (char c : texto) {
        if (c == '%')
            r += "%25";
        else if (c == '\r')
            r += "%0D";
        else if (c == '\n')
            r += "%0A";
        else
            r += c;
    }
    return r;
}

std::string Desescapar(std::string_view texto) {
    std::string r;
    for (size_t i = 0; i < texto.size(); ++i) {
        if (texto[i] == '%' && i + 2 < texto.size()) {
            const std::string_view codigo = texto.substr(i + 1, 2);
            r += codigo == "25" ? '%' : codigo == "0D" ? '\r' : codigo == "0A" ? '\n' : '?';
            i += 2;
        } else {
            r += texto[i];
        }
    }
    return r;
}

Caminho CaminhoDoRegistro(const std::string& texto) {
#ifdef _WIN32
    return CaminhoDe(DeUtf8(texto));
#else
    return Caminho(texto);
#endif
}

}  // namespace

std::string CaminhoParaRegistro(const Caminho& c) {
#ifdef _WIN32
    const std::wstring w = c.wstring();
    return ParaUtf8(std::u16string(w.begin(), w.end()));
#else
    return c.native();
#endif
}

std::string TextoDoRegistro(const ColocacaoPendente& c) {
    std::string r = std::string(kCabecalhoRegistro) + "\n";
    r += "decisao=" + Escapar(c.decisao) + "\n";
    for (const Caminho& registro : c.registros)
        r += "registro=" + Escapar(CaminhoParaRegistro(registro)) + "\n";
    for (const auto& item : c.itens) {
        r += "destino=" + Escapar(CaminhoParaRegistro(item.destino)) + "\n";
        r += "anterior=" + Escapar(CaminhoParaRegistro(item.anterior)) + "\n";
        r += "hash=" + item.hash + "\n";
    }
    return r + "fim\n";
}

std::optional<ColocacaoPendente> LerRegistro(std::string_view texto) {
    ColocacaoPendente c;
    bool cabecalho = false, fim = false;
    for (size_t i = 0; i < texto.size();) {
        size_t quebra = texto.find('\n', i);
        if (quebra == std::string_view::npos) return std::nullopt;  // cut short
        const std::string_view linha = texto.substr(i, quebra - i);
        i = quebra + 1;
        if (!cabecalho) {
            if (linha != kCabecalhoRegistro) return std::nullopt;
            cabecalho = true;
            continue;
        }
        if (linha == "fim") {
            fim = true;
            break;
        }
        const size_t igual = linha.find('=');
        if (igual == std::string_view::npos) return std::nullopt;
        const std::string_view chave = linha.substr(0, igual);
        const std::string valor = Desescapar(linha.substr(igual + 1));
        if (chave == "decisao") {
            c.decisao = valor;
        } else if (chave == "registro") {
            c.registros.push_back(CaminhoDoRegistro(valor));
        } else if (chave == "destino") {
            c.itens.push_back({CaminhoDoRegistro(valor), {}, {}});
        } else if (chave == "anterior" && !c.itens.empty()) {
            if (!valor.empty()) c.itens.back().anterior = CaminhoDoRegistro(valor);
        } else if (chave == "hash" && !c.itens.empty()) {
            c.itens.back().hash = valor;
        } else {
            return std::nullopt;
        }
    }
    if (!fim) return std::nullopt;
    return c;
}

int TravarRegistro(const Caminho& c) {
#ifdef _WIN32
    int fd = -1;
    if (_wsopen_s(&fd, c.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW, 0) != 0) return -1;
    return fd;
#else
    return Travar(c);
#endif
}

void SoltarTrava(int& fd) {
#ifdef _WIN32
    if (fd >= 0) _close(fd);
#else
    if (fd >= 0) ::close(fd);
#endif
    fd = -1;
}

std::string LerDoDescritor(int fd) {
    std::string r;
    char buf[4096];
#ifdef _WIN32
    _lseek(fd, 0, SEEK_SET);
    for (int n; (n = _read(fd, buf, sizeof buf)) > 0;) r.append(buf, static_cast<size_t>(n));
#else
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) r.append(buf, static_cast<size_t>(n));
#endif
    return r;
}

int CriarRegistro(const Caminho& registro, const Caminho& temporario, std::string_view texto) {
    bool ok = false;
#ifdef _WIN32
    int fd = -1;
    if (_wsopen_s(&fd, temporario.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYWR,
                  _S_IREAD | _S_IWRITE) != 0)
        return -1;
    ok = _write(fd, texto.data(), static_cast<unsigned>(texto.size())) ==
             static_cast<int>(texto.size()) &&
         _commit(fd) == 0;
    // An open file is renamed only by the handle that has it; Windows keeps the name on close.
    if (ok) {
        SoltarTrava(fd);
        std::error_code ec;
        std::filesystem::rename(temporario, registro, ec);
        ok = !ec;
        if (ok) {
            // Held again at once, for as long as the set is this process's.
            fd = -1;
            if (_wsopen_s(&fd, registro.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYWR, 0) != 0) {
                fd = -1;
                ok = false;
            }
        }
    }
#else
    const int fd = ::open(temporario.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
         ::write(fd, texto.data(), texto.size()) == static_cast<ssize_t>(texto.size()) &&
         ::fsync(fd) == 0 && ::rename(temporario.c_str(), registro.c_str()) == 0;
    // The record's name must be on disk before anything it describes moves.
    if (ok) {
        const Caminho pasta = registro.has_parent_path() ? registro.parent_path() : Caminho(".");
        const int dir = ::open(pasta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ok = dir >= 0 && ::fsync(dir) == 0;
        if (dir >= 0) ::close(dir);
    }
#endif
    if (!ok) {
        const int erro = errno;
        int copia = fd;
        SoltarTrava(copia);
        std::error_code ec;
        std::filesystem::remove(temporario, ec);
        std::filesystem::remove(registro, ec);
        errno = erro;
        return -1;
    }
    return fd;
}

Caminho PastaDasColocacoes() {
#ifdef _WIN32
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (!local || !*local) return {};
    return Caminho(local) / L"DllKavlo";
#else
    if (const char* estado = std::getenv("XDG_STATE_HOME"); estado && *estado == '/')
        return Caminho(estado) / "kavlo";
    if (const char* casa = std::getenv("HOME"); casa && *casa == '/')
        return Caminho(casa) / ".local" / "state" / "kavlo";
    return {};
#endif
}

}  // namespace kavlo
