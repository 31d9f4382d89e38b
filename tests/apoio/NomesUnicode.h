// Names as they arrive in Unicode (a UTF8 column, a UTF-8 return file), some with their accents
// written apart from their letters, and the bytes Windows' conversion to code page 1252 writes for
// them once composed. The generation and the import tests run the same table through their files.
#pragma once

#include <string>
#include <vector>

namespace kavlo::teste {

struct NomeUnicode {
    const char* caso;
    std::u16string escrito;   // as stored or sent
    std::u16string composto;  // what a person sees: the characters the fixed widths count
    std::string windows1252;  // the bytes the files carry
};

inline std::vector<NomeUnicode> NomesUnicode() {
    std::u16string joao8, joao8Escrito;
    std::string joao8Bytes;
    for (int i = 0; i < 8; ++i) {
        joao8 += u"JOÃO ";
        joao8Escrito += u"JOA\u0303O ";
        joao8Bytes += "JO\xC3O ";
    }
    return {
        {"acentos à parte", u"JOSE\u0301 DA CONCEIC\u0327A\u0303O", u"JOSÉ DA CONCEIÇÃO",
         "JOS\xC9 DA CONCEI\xC7\xC3O"},
        // 40 letters in 48 code units: the whole name fits the 40 positions.
        {"40 letras com acentos à parte", joao8Escrito, joao8, joao8Bytes},
        {"polonês", u"ŁUKASZ Z\u0307O\u0301ŁKIEWSKI", u"ŁUKASZ ŻÓŁKIEWSKI", "LUKASZ Z\xD3LKIEWSKI"},
        // Ễ and Ị have no nearer letter in the code page: one "?" each, not E^~ or I.
        {"vietnamita", u"NGUYE\u0302\u0303N THI\u0323 A\u0301NH", u"NGUYỄN THỊ ÁNH",
         "NGUY?N TH? \xC1NH"},
        {"turco", u"YILMAZ IS\u0327IK C\u0327AG\u0306LAR I\u0307G\u0306DIR ıg\u0306",
         u"YILMAZ IŞIK ÇAĞLAR İĞDIR ığ",
         "YILMAZ ISIK \xC7"
         "AGLAR IGDIR ig"},
        {"aspas e travessões", u"D’ÁVILA “NENÊ” – SILVA — JR‐", u"D’ÁVILA “NENÊ” – SILVA — JR‐",
         "D\x92\xC1VILA \x93NEN\xCA\x94 \x96 SILVA \x97 JR-"},
        // Two code units, two "?".
        {"emoji", u"ANA \U0001F600 SOUZA", u"ANA \U0001F600 SOUZA", "ANA ?? SOUZA"},
        {"CJK", u"李小龍 BRUCE LEE", u"李小龍 BRUCE LEE", "??? BRUCE LEE"},
    };
}

}  // namespace kavlo::teste
