// What the parts of the native module share: the variant names, the library's
// errors as Python exceptions, the message collector.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "lumaqc/lumaqc.h"

namespace py = pybind11;

namespace lumaqc::python {

struct IsaName {
    const char* name;
    uint32_t bit;
};
inline constexpr IsaName kIsaNames[] = {
    {"generic", LUMAQC_ISA_GENERIC}, {"avx2", LUMAQC_ISA_AVX2}, {"avx512", LUMAQC_ISA_AVX512}};

// Raises the exception of the status's kind (ValueError for sizes and invalid
// arguments, MemoryError, else RuntimeError) with "lumaqc: what: reason".
[[noreturn]] void raiseStatus(int status, const std::string& what);

// The variant mask of None, a variant name or an iterable of names.
uint32_t isaMask(const py::object& isa);
// "generic", "avx2", "avx512" or "unknown".
std::string isaName(uint32_t bit);

// A lumaqc_settings.message callback appending to a std::vector<std::string>.
void collectMessage(void* user, const char* text);

// analyze_file's native part: _analyze_file.
void defineFileAnalysis(py::module_& m);

}  // namespace lumaqc::python
