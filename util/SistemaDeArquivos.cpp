#include "util/SistemaDeArquivos.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <share.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace kavlo {

std::string Motivo(int erro) {
    switch (erro) {
        case ENOENT:
            return "o arquivo ou a pasta não existe";
        case ENOTDIR:
            return "uma parte do caminho não é uma pasta";
        case EISDIR:
            return "o caminho é uma pasta, não um arquivo";
        case EACCES:
        case EPERM:
            return "permissão negada";
        case ENOSPC:
            return "não há espaço no disco";
        case EROFS:
            return "o sistema de arquivos está somente para leitura";
        case EEXIST:
            return "o arquivo já existe";
        case EBUSY:
            return "o arquivo está em uso";
        case ENAMETOOLONG:
            return "o nome do arquivo é longo demais";
        case EMFILE:
        case ENFILE:
            return "arquivos abertos demais";
        case EIO:
            return "erro de leitura ou gravação no disco";
#ifdef EDQUOT
        case EDQUOT:
            return "a cota de disco acabou";
#endif
        default:
            break;
    }
#ifdef _WIN32
    char buf[256];
    strerror_s(buf, sizeof buf, erro);
    return buf;
#else
    return std::strerror(erro);
#endif
}

std::string Motivo(const std::error_code& ec) {
    if (ec.category() == std::generic_category()) return Motivo(ec.value());
#ifndef _WIN32
    if (ec.category() == std::system_category()) return Motivo(ec.value());
#endif
    return ec.message();
}

std::FILE* Abrir(const Caminho& caminho, bool escrita) {
#ifdef _WIN32
    // Readers deny writers; the temporary files we write deny everybody.
    return _wfsopen(caminho.c_str(), escrita ? L"wb" : L"rb", escrita ? _SH_DENYRW : _SH_DENYWR);
#else
    return std::fopen(caminho.c_str(), escrita ? "wb" : "rb");
#endif
}

bool NomeDeResto(const std::string& nome, const std::string& base, std::string_view marca) {
    if (!nome.starts_with(base) || nome.size() <= base.size() + marca.size()) return false;
    if (std::string_view(nome).substr(base.size(), marca.size()) != marca) return false;
    const std::string_view numero = std::string_view(nome).substr(base.size() + marca.size());
    return numero.size() <= 6 && numero.find_first_not_of("0123456789") == std::string_view::npos;
}

#ifndef _WIN32
int Travar(const Caminho& c) {
    const int fd = ::open(c.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Abandonado(const Caminho& c) {
    const int fd = Travar(c);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}
#endif

void Destravar(int& fd) {
#ifndef _WIN32
    if (fd >= 0) ::close(fd);
#endif
    fd = -1;
}

}  // namespace kavlo
