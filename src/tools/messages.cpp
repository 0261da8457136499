#include "tools/messages.hpp"

#include <cstdio>

namespace lumaqc {

static void writeToStandardOutput(void*, const char* text) { std::fputs(text, stdout); }

MessageSink standardOutputSink() { return MessageSink{writeToStandardOutput, nullptr}; }

}  // namespace lumaqc
