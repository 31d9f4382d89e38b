#include "util/Caminhos.h"

#include "util/Codificacao.h"
#include "util/Erros.h"

#ifdef _WIN32
#include <cwchar>
#endif

namespace kavlo {

Caminho CaminhoDe(std::u16string_view texto) {
#ifdef _WIN32
    return Caminho(std::wstring(texto.begin(), texto.end()));
#else
    return Caminho(ParaUtf8(texto));
#endif
}

std::u16string TextoDoCaminho(const Caminho& caminho) {
#ifdef _WIN32
    const std::wstring w = caminho.wstring();
    return std::u16string(w.begin(), w.end());
#else
    return DeUtf8(caminho.native());
#endif
}

std::string NomeParaMensagem(const Caminho& caminho) {
#ifdef _WIN32
    const std::wstring w = caminho.wstring();
    return ParaMensagem(std::u16string(w.begin(), w.end()));
#else
    return ParaMensagem(std::string_view(caminho.native()));
#endif
}

bool MesmoArquivo(const Caminho& a, const Caminho& b) {
    std::error_code ec;
    if (std::filesystem::exists(a, ec) && std::filesystem::exists(b, ec)) {
        const bool mesmo = std::filesystem::equivalent(a, b, ec);
        if (!ec) return mesmo;
    }
    Caminho x = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ec), ec);
    if (ec) x = a.lexically_normal();
    Caminho y = std::filesystem::weakly_canonical(std::filesystem::absolute(b, ec), ec);
    if (ec) y = b.lexically_normal();
#ifdef _WIN32
    return _wcsicmp(x.c_str(), y.c_str()) == 0;
#else
    return x == y;
#endif
}

void ConferirArquivosDistintos(const std::vector<PapelDeArquivo>& arquivos) {
    for (size_t i = 0; i < arquivos.size(); ++i)
        for (size_t j = i + 1; j < arquivos.size(); ++j)
            if (arquivos[i].papel != arquivos[j].papel &&
                MesmoArquivo(arquivos[i].caminho, arquivos[j].caminho)) {
                std::string m =
                    arquivos[i].papel + " ('" + NomeParaMensagem(arquivos[i].caminho) + "') e " +
                    arquivos[j].papel + " ('" + NomeParaMensagem(arquivos[j].caminho) +
                    "') são o mesmo arquivo: gravar um destruiria o outro. Nada foi gravado; "
                    "informe caminhos diferentes.";
                if (!m.empty() && m[0] >= 'a' && m[0] <= 'z') m[0] = static_cast<char>(m[0] - 32);
                throw Erro(m);
            }
}

}  // namespace kavlo
