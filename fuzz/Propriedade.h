// A property that must hold for every input: a violation aborts, so the fuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define PROPRIEDADE(condicao)                                                              \
    do {                                                                                   \
        if (!(condicao)) {                                                                 \
            std::fprintf(stderr, "propriedade violada: %s (%s:%d)\n", #condicao, __FILE__, \
                         __LINE__);                                                        \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)
