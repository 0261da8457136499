// Where operators and indicators send the few messages they have: the
// library hands its caller's callback down (a null one drops them).
#pragma once

namespace lumaqc {

struct MessageSink {
    void (*write)(void* user, const char* text) = nullptr;
    void* user = nullptr;
    void send(const char* text) const {
        if (write != nullptr) write(user, text);
    }
};

}  // namespace lumaqc
