// openReader: which reader reads an input, and the checks they share.
#include <cstring>

#include "io/source.hpp"

namespace lumaqc::io {

std::unique_ptr<Reader> openReader(const InputRequest& request, std::string* error) {
    const std::string& format = request.format;
    if (!format.empty() && format != "raw" && format != "y4m" && format != "libav") {
        *error = "Unknown input format '" + format + "': use raw, y4m or libav";
        return nullptr;
    }
    std::unique_ptr<Source> source = Source::open(request.path, error);
    if (!source) return nullptr;
    static constexpr char kY4mSignature[] = "YUV4MPEG2 ";
    const std::string head = source->peek(std::strlen(kY4mSignature));
    const bool y4m = head == kY4mSignature;
    if (source->failed()) {
        *error = "Cannot read " + request.path + ": " + std::strerror(source->errorNumber());
        return nullptr;
    }
    const bool sizeGiven = request.sizeGiven || request.width != 0 || request.height != 0;
    const std::string chosen = !format.empty() ? format : y4m ? "y4m" : sizeGiven ? "raw" : "libav";
    if (chosen == "raw") return openRawReader(std::move(source), request, error);
    if (request.start < 0) {
        *error = "Invalid startFrame " + shownNumber(request.startText, request.start) + ": it must not be negative";
        return nullptr;
    }
    if (chosen == "y4m") {
        if (!y4m) {
            *error = request.path + " is not a Y4M stream: it does not begin with 'YUV4MPEG2 '";
            return nullptr;
        }
        return openY4mReader(std::move(source), request, error);
    }
    if (!libavAvailable()) {
        *error = format.empty() ? request.path +
                                      " is neither Y4M nor raw with WIDTH HEIGHT given, and reading other formats "
                                      "through libav is not available in this build"
                                : "Reading through libav is not available in this build";
        return nullptr;
    }
    if (head.empty()) {
        *error = request.path + " is empty";
        return nullptr;
    }
    return openLibavReader(std::move(source), request, error);
}

}  // namespace lumaqc::io
