// Return-file reading: any bytes give composed lines without line ends or NULs, and writing the
// lines back with CR LF and reading them again gives the same lines. Read as a stream in small
// blocks, the same bytes give the same lines, or the same refusal, and the hash of every byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/Propriedade.h"
#include "util/Codificacao.h"
#include "util/Erros.h"
#include "util/LeitorDeLinhas.h"
#include "util/Sha256.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* dados, size_t tamanho) {
    using namespace kavlo;
    const std::string_view bytes(reinterpret_cast<const char*>(dados), tamanho);
    std::vector<std::u16string> linhas;
    bool recusado = false;
    try {
        linhas = LinhasDoTexto(bytes);
    } catch (const ErroArquivo&) {
        recusado = true;  // a NUL followed by text: refused, which is documented
    }
    {
        LeitorDeLinhas leitor = LeitorDeLinhas::DeBytes(bytes, 1 + tamanho % 7);
        std::vector<std::u16string> emBlocos;
        bool recusadoEmBlocos = false;
        try {
            for (std::u16string linha; leitor.Proxima(linha);) emBlocos.push_back(linha);
        } catch (const ErroArquivo&) {
            recusadoEmBlocos = true;
        }
        PROPRIEDADE(recusadoEmBlocos == recusado);
        PROPRIEDADE(recusado || emBlocos == linhas);
        PROPRIEDADE(leitor.Hash() == Sha256(bytes));
    }
    if (recusado) return 0;
    std::u16string junto;
    for (const auto& l : linhas) {
        PROPRIEDADE(l.find(u'\r') == std::u16string::npos);
        PROPRIEDADE(l.find(u'\n') == std::u16string::npos);
        PROPRIEDADE(l.find(u'\0') == std::u16string::npos);
        // Unicode lines are composed, and Windows-1252 text has nothing to compose.
        PROPRIEDADE(Compor(l) == l);
        junto += l;
        junto += u"\r\n";
    }
    // Through UTF-8 with a mark every UTF-16 text survives (lone surrogates aside).
    const std::string utf8 = "\xEF\xBB\xBF" + ParaUtf8(junto);
    if (DeUtf8(ParaUtf8(junto)) == junto) PROPRIEDADE(LinhasDoTexto(utf8) == linhas);
    // Without a mark, a file of Windows-1252 bytes reads back byte for byte.
    if (!bytes.starts_with("\xEF\xBB\xBF") && !bytes.starts_with("\xFF\xFE") &&
        !bytes.starts_with("\xFE\xFF") && bytes.find('\0') == std::string_view::npos) {
        std::string copia;
        for (const auto& l : linhas) copia += ParaWindows1252(l) + "\r\n";
        PROPRIEDADE(LinhasDoTexto(copia) == linhas);
        PROPRIEDADE(ParaWindows1252(DeWindows1252(bytes)) == bytes);
    }
    return 0;
}
