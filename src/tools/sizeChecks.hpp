// The size checks of the toolkit's operators.
#pragma once

namespace lumaqc {

// Assertion of the toolkit: writes
//   "<program>: ../tools/definitions.c:<line>: <function>: Assertion `<condition>' failed."
// on the error stream and aborts. Used where an operator checks its sizes.
[[noreturn]] void toolkitAssertFail(const char* condition, unsigned line, const char* function);

#define TOOLKIT_ASSERT(expr, text, function) \
    ((expr) ? static_cast<void>(0) : toolkitAssertFail((text), __LINE__, (function)))

}  // namespace lumaqc
