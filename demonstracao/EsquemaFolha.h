// The payroll tables DllKavlo reads and writes, as DDL for demo and test databases. The payroll
// application owns the real schema; this one holds exactly the tables and columns the library
// relies on, with types a payroll of this kind uses.
#pragma once

#include <string>
#include <string_view>

namespace kavlo::demo {

// Tables without a month: employer, banks, leave types and the events of every month.
std::string EsquemaFixo();

// The five month tables for one month abbreviation ("JAN"): register, payroll results with the
// seventeen deduction slots, functions, units and employment types.
std::string EsquemaDoMes(std::string_view abreviacao);

}  // namespace kavlo::demo
