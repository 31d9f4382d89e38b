// Rule objects of the generation pass: each owns the DAO of its subject and hands its results
// through unchanged.
#pragma once

#include "dao/DaoKavlo.h"

namespace kavlo {

class TRNPessoas {
  public:
    fb::Cursor& listarPessoas(fb::Transacao& t, const ConsultaDoMes& mes) {
        return FDaoPessoas.listPessoas(t, mes);
    }
    fb::Cursor& listarCliente(fb::Transacao& t) { return FDaoPessoas.listCliente(t); }
    void Fechar() { FDaoPessoas.Fechar(); }

  private:
    TDAOPessoas FDaoPessoas;
};

class TRNMargem {
  public:
    fb::Cursor& listarMargem(fb::Transacao& t, const ConsultaDoMes& mes) {
        return FDaoMargem.listMargem(t, mes);
    }
    fb::Cursor& listarCliente(fb::Transacao& t) { return FDaoMargem.listCliente(t); }
    void Fechar() { FDaoMargem.Fechar(); }

  private:
    TDAOMargem FDaoMargem;
};

class TRNTransferidos {
  public:
    fb::Cursor& listarTransferidos(fb::Transacao& t, const ConsultaDoMes& mes) {
        return FDaoTransferidos.listTransferidos(t, mes);
    }
    fb::Cursor& listarCliente(fb::Transacao& t) { return FDaoTransferidos.listCliente(t); }
    void Fechar() { FDaoTransferidos.Fechar(); }

  private:
    TDAOTransferidos FDaoTransferidos;
};

}  // namespace kavlo
