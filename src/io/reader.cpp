// openReader: which reader reads an input, and the checks they share.
#include <cstring>

#include "io/source.hpp"

namespace lumaqc::io {

namespace {
// Enough for three MPEG transport stream packets.
constexpr size_t kSignatureBytes = 3 * 188 + 1;
}  // namespace

const char* containerSignature(const std::string& head) {
    auto at = [&](size_t offset, const char* bytes, size_t n) {
        return head.size() >= offset + n && head.compare(offset, n, bytes, n) == 0;
    };
    if (at(4, "ftyp", 4)) return "an MP4 or QuickTime file";
    if (at(0, "\x1A\x45\xDF\xA3", 4)) return "a Matroska or WebM file";
    if (at(0, "RIFF", 4) && at(8, "AVI ", 4)) return "an AVI file";
    if (at(0, "OggS", 4)) return "an Ogg file";
    if (at(0, "FLV\x01", 4)) return "an FLV file";
    if (at(0, "\x00\x00\x01\xBA", 4)) return "an MPEG program stream";
    if (at(0, "\x06\x0E\x2B\x34\x02\x05\x01\x01", 8)) return "an MXF file";
    // Transport stream: a sync byte every 188 bytes, and packets that are not
    // one flat value (a flat picture of level 0x47 is not a stream).
    if (head.size() >= kSignatureBytes && head[0] == 0x47 && head[188] == 0x47 && head[376] == 0x47 &&
        head[564] == 0x47 && head.find_first_not_of('\x47', 0) < 188)
        return "an MPEG transport stream";
    return nullptr;
}

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
    if (chosen == "raw") {
        // Sizes given for a container read its bytes as pictures: every row would be wrong.
        const char* container = format.empty() ? containerSignature(source->peek(kSignatureBytes)) : nullptr;
        std::unique_ptr<Reader> reader = openRawReader(std::move(source), request, error);
        if (container != nullptr && !reader)
            *error += " (it begins like " + std::string(container) + ": leave WIDTH and HEIGHT out to decode it)";
        if (container != nullptr && reader)
            reader->addWarning(request.path + " begins like " + container +
                               ", but WIDTH and HEIGHT make it read as raw YUV 4:2:0: leave them out to decode "
                               "it, or give --input-format raw to read it as raw without this warning");
        return reader;
    }
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
