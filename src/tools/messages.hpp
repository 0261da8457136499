// Where operators and indicators send the few messages they have. The
// library hands its caller's callback down; the free functions of the
// toolkit and the indicators write to standard output.
#pragma once

namespace lumaqc {

struct MessageSink {
    void (*write)(void* user, const char* text) = nullptr;
    void* user = nullptr;
    void send(const char* text) const {
        if (write != nullptr) write(user, text);
    }
};

// Writes each text to standard output as it is.
MessageSink standardOutputSink();

}  // namespace lumaqc
