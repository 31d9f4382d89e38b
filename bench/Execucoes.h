// The runs of kavlo_desempenho on one payroll size through one access, embedded or through the
// local server: each operation beside its reference, its figures into a Medida.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "bench/Ambiente.h"
#include "bench/Lancador.h"
#include "bench/Resultados.h"

namespace kavlo::bench {

// The filter generation is also measured with, for comparison with the host's.
inline const std::u16string kFiltroTrivial = u"select matricula from SFP001FEV";

class Execucoes {
  public:
    Execucoes(const Lancador& lancador, const Ambiente& ambiente, const Folha& folha,
              bool viaServidor, Medida& m);
    ~Execucoes();

    // The reference and `kavlo gerar` with the host's filter on one copy, taking turns so that
    // both meet the same moments of a shared machine; then the trivial filter once.
    void Geracao();
    // The reference, the exported import followed by `kavlo estornar` of it, and `kavlo
    // importar`, in turns, each on a fresh copy.
    void Importacao();

  private:
    // A fresh copy of the payroll, under a name of its own: a server may keep a file open a while
    // after its last connection, and a copy written over it would be read mixed with the old one.
    void Copiar();
    // The machine is noisy: each time is the best of a few runs, each peak the largest. `de`:
    // how many runs this figure has (0: Repeticoes()).
    void Registrar(std::string_view oQue, int k, const Processo& p, Figura& figura,
                   int de = 0) const;
    Processo Rodar(std::vector<std::string> argumentos) const;
    Processo Gerar(const std::u16string& filtro) const;
    std::string Resultado() const;
    // The first row of `sql` on this copy, as text.
    std::u16string Consultar(std::string_view sql) const;
    // The number the import just run on this copy took in the journal.
    std::string UltimaImportacao() const;
    // The reference must write the journal rows the import writes: the same postings, lines and
    // margins, whichever ran on this copy (the amounts in cents, so that no sum depends on the
    // rows' order).
    void ConferirDiario();

    const Lancador& lancador_;
    const Ambiente& ambiente_;
    const Folha& folha_;
    const bool viaServidor_;
    Medida& m_;
    const std::string rotulo_;
    int copias_ = 0;
    std::filesystem::path banco_;
    std::string local_;
    std::u16string local16_;
    std::u16string diario_;
};

}  // namespace kavlo::bench
