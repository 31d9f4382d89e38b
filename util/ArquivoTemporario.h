// Writing an output file so that a failure never leaves a half-written file where a finished one
// is expected.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "util/Caminhos.h"
#include "util/Sha256.h"

namespace kavlo {

// A file written beside its destination under a temporary name and moved into place only by
// Confirmar(); dropped without confirmation it is removed, and the destination is untouched.
// A process killed outright leaves such files behind: the next one for the same destination
// removes them (the destination's own ".tmpNNNNNN" and ".anteriorNNNNNN" files that no live
// process holds) and puts back an earlier file whose place is empty. An earlier file kept aside
// for a set still waiting to be settled (".pendenteNNNNNN" beside it, see Substituicao::Registrar)
// is left to AcertarColocacoes.
// On Linux the file is its owner's alone, or has the permissions and owner of the file it will
// replace (PermissoesDoSubstituto): it holds personal data.
class ArquivoTemporario {
  public:
    explicit ArquivoTemporario(Caminho destino);
    ~ArquivoTemporario();
    ArquivoTemporario(const ArquivoTemporario&) = delete;
    ArquivoTemporario& operator=(const ArquivoTemporario&) = delete;

    void Escrever(std::string_view bytes);
    // Writes one line of text in Windows-1252 as Windows writes it (ParaWindows1252MelhorAjuste)
    // followed by CR LF.
    void EscreverLinha(std::u16string_view linha);
    // Flushes and closes; any write error surfaces here at the latest.
    void Fechar();
    // Replaces the destination with the finished file.
    void Confirmar();
    const Caminho& Destino() const { return destino_; }
    const Caminho& Temporario() const { return temporario_; }
    // SHA-256 of every byte written, once closed.
    const std::string& Hash() const { return hash_; }

  private:
    [[noreturn]] void FalhaEscrita(int erro);
    Caminho destino_;
    Caminho temporario_;
    std::FILE* arquivo_ = nullptr;
    // The lock that tells other runs this temporary file is in use; held from its creation until
    // it is moved into place or removed, not only while it is being written.
    int trava_ = -1;
    bool confirmado_ = false;
    Sha256Incremental somador_;
    std::string hash_;
};

}  // namespace kavlo
