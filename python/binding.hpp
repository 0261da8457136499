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

// The most threads lumaqc_open takes, and the bound of the decoder's.
inline constexpr int64_t kMaxThreads = 1024;

// A text of the library or the readers as a str: bytes that are not UTF-8
// (a file name's) shown as \xNN escapes.
py::str textOf(const std::string& text);
// Raises ValueError with "lumaqc: " + text.
[[noreturn]] void raiseValueError(const std::string& text);
// An integer argument in [low, high]; ValueError naming it otherwise (also
// beyond 64 bits), TypeError when it is no integer.
int64_t wholeArgument(const char* name, const py::handle& value, int64_t low, int64_t high);
// A finite number argument, at least low (above it when positive is set).
double numberArgument(const char* name, const py::handle& value, double low, bool positive);

// The variant mask of None, a variant name or an iterable of names.
uint32_t isaMask(const py::object& isa);
// "generic", "avx2", "avx512" or "unknown".
std::string isaName(uint32_t bit);

// A lumaqc_settings.message callback appending to a std::vector<std::string>.
void collectMessage(void* user, const char* text);

// analyze_file's native part: _analyze_file.
void defineFileAnalysis(py::module_& m);

}  // namespace lumaqc::python
