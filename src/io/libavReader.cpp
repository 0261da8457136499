// The libav reader: a thin Reader over the module lumaqc_libav, which is
// loaded (with FFmpeg's libraries) only when a container is first read. The
// module lies beside the program or library holding this code (build tree,
// Python package), or in the installed library directory.
#include "io/pictures.hpp"
#include "io/source.hpp"

#ifdef LUMAQC_HAVE_LIBAV

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "io/libavModule.h"

namespace lumaqc::io {
namespace {

constexpr char kModuleName[] = "lumaqc_libav.so";

// The directory of the program or shared object this code was linked into.
std::string ownDirectory() {
    Dl_info info;
    link_map* map = nullptr;
    std::string file;
    if (dladdr1(reinterpret_cast<void*>(&ownDirectory), &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) != 0 &&
        map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
        file = map->l_name;
    } else {
        file = "/proc/self/exe";  // the main program, whose link map has no name
    }
    char resolved[PATH_MAX];
    if (realpath(file.c_str(), resolved) == nullptr) return ".";
    std::string path = resolved;
    return path.substr(0, path.rfind('/'));
}

struct Module {
    const lumaqc_libav_table* table = nullptr;
    std::string error;  // why it could not be loaded
};

// What loading the module says: the table, or what to install.
Module load() {
    Module module;
    const std::string dir = ownDirectory();
    const std::string candidates[] = {dir + "/" + kModuleName, dir + "/" LUMAQC_LIBAV_INSTALLED_DIR "/" + kModuleName};
    const std::string* found = nullptr;
    for (const std::string& candidate : candidates) {
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0) {
            found = &candidate;
            break;
        }
    }
    if (found == nullptr) {
        module.error = "decoding it needs lumaqc's module " + std::string(kModuleName) + ", found neither in " + dir +
                       " nor in " + dir +
                       "/" LUMAQC_LIBAV_INSTALLED_DIR
                       ": install lumaqc again (cmake --install), or give raw YUV "
                       "with WIDTH and HEIGHT, or Y4M";
        return module;
    }
    void* handle = dlopen(found->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        module.error = "decoding it needs FFmpeg's libraries, which lumaqc's module " + *found + " cannot load (" +
                       (why != nullptr ? why : "unknown error") + "): install Debian's packages " LUMAQC_LIBAV_PACKAGES;
        return module;
    }
    // Never closed: FFmpeg's libraries stay mapped for the rest of the process.
    auto entry = reinterpret_cast<lumaqc_libav_entry_function>(dlsym(handle, LUMAQC_LIBAV_ENTRY));
    const lumaqc_libav_table* table = entry != nullptr ? entry() : nullptr;
    if (table == nullptr || table->version != LUMAQC_LIBAV_VERSION) {
        module.error = "lumaqc's module " + *found + " belongs to another version of lumaqc: install lumaqc again";
        return module;
    }
    module.table = table;
    return module;
}

const Module& module() {
    static const Module loaded = load();
    return loaded;
}

// LUMAQC_CONTAINER_SEEK=off decodes every frame before a start, for
// comparing the seek with the plain decoding.
bool seekingAllowed() {
    const char* value = std::getenv("LUMAQC_CONTAINER_SEEK");
    return value == nullptr || std::string(value) != "off";
}

class LibavReader final : public Reader {
public:
    LibavReader(const lumaqc_libav_table* table, std::unique_ptr<Source> source)
        : table_(table), source_(std::move(source)) {
        path_ = source_->path();
        callbacks_ = lumaqc_libav_source{source_.get(), path_.c_str(), source_->seekable() ? 1 : 0, readSource, sizeOf,
                                         tellOf,        seekTo};
        info_.reader = "libav";
        info_.seekable = source_->seekable();
    }
    ~LibavReader() override {
        if (decoder_ != nullptr) table_->close(decoder_);
    }

    std::string open(const InputRequest& request) {
        const lumaqc_libav_request r{request.start, request.frames, request.threads, request.fps,
                                     request.fpsGiven ? 1 : 0, request.seek && seekingAllowed() ? 1 : 0,
                                     request.examine ? 1 : 0};
        decoder_ = table_->open(&callbacks_, &r);
        if (decoder_ == nullptr) return "Cannot allocate the decoder";
        const std::string error = table_->open_error(decoder_);
        if (!error.empty()) return error;
        lumaqc_libav_info info;
        table_->info(decoder_, &info);
        info_.width = info.width;
        info_.height = info.height;
        info_.fps = info.fps;
        info_.fpsKnown = info.fps_known != 0;
        info_.expectedFrames = info.expected_frames;
        info_.startTimecode = info.timecode != nullptr ? info.timecode : "";
        info_.cuttable = info.cuttable != 0;
        info_.wholeReason = info.whole_reason != nullptr ? info.whole_reason : "";
        return {};
    }

    const StreamInfo& info() const override { return info_; }

    ReadResult next() override {
        lumaqc_libav_frame frame;
        table_->next(decoder_, &frame);
        ReadResult r;
        takeWarnings(r);
        r.status = static_cast<ReadStatus>(frame.status);
        r.luma = Plane{frame.data, frame.stride, frame.width, frame.height};
        r.decoded = frame.picture;
        r.index = frame.index;
        r.ptsTime = frame.pts_time;
        r.message = frame.message;
        for (size_t i = 0; i < frame.warning_count; ++i) r.warnings.emplace_back(frame.warnings[i]);
        return r;
    }

private:
    static Source* of(void* opaque) { return static_cast<Source*>(opaque); }
    static int readSource(void* opaque, uint8_t* to, int size) {
        const size_t got = of(opaque)->read(to, static_cast<size_t>(size));
        if (got > 0) return static_cast<int>(got);
        return of(opaque)->failed() ? -of(opaque)->errorNumber() : 0;
    }
    static int64_t sizeOf(void* opaque) { return of(opaque)->size(); }
    static int64_t tellOf(void* opaque) { return of(opaque)->tell(); }
    static int seekTo(void* opaque, int64_t offset) { return of(opaque)->seekTo(offset) ? 1 : 0; }

    const lumaqc_libav_table* table_;
    std::unique_ptr<Source> source_;
    std::string path_;
    lumaqc_libav_source callbacks_;
    lumaqc_libav_reader* decoder_ = nullptr;
    StreamInfo info_;
};

}  // namespace

bool libavAvailable() { return true; }

bool picturesAvailable(std::string* why) {
    if (module().table == nullptr && why != nullptr) *why = module().error;
    return module().table != nullptr;
}

bool scaleLuma(const Plane& from, int32_t toWidth, int32_t toHeight, uint8_t* to) {
    const lumaqc_libav_table* table = module().table;
    return table != nullptr &&
           table->scale_gray(from.data, from.stride, from.width, from.height, to, toWidth, toWidth, toHeight) == 1;
}

bool scaleColour(const ReadResult& frame, int32_t toWidth, int32_t toHeight, uint8_t* to) {
    const lumaqc_libav_table* table = module().table;
    return table != nullptr && frame.decoded != nullptr && table->scale_picture(frame.decoded, toWidth, toHeight, to) == 1;
}

std::string jpegOfPicture(const uint8_t* picture, bool colour, int32_t width, int32_t height) {
    const lumaqc_libav_table* table = module().table;
    uint8_t* bytes = nullptr;
    size_t size = 0;
    const ptrdiff_t lumaSize = static_cast<ptrdiff_t>(width) * height, chromaWidth = (width + 1) / 2;
    const uint8_t* cb = colour ? picture + lumaSize : nullptr;
    const uint8_t* cr = colour ? picture + lumaSize + chromaWidth * ((height + 1) / 2) : nullptr;
    if (table == nullptr || table->encode_jpeg(picture, width, cb, cr, chromaWidth, width, height, &bytes, &size) != 1)
        return "";
    std::string jpeg(reinterpret_cast<const char*>(bytes), size);
    table->free_bytes(bytes);
    return jpeg;
}

std::unique_ptr<Reader> openLibavReader(std::unique_ptr<Source> source, const InputRequest& request,
                                        std::string* error) {
    const Module& loaded = module();
    if (loaded.table == nullptr) {
        *error = "Cannot read " + source->path() + ": " + loaded.error;
        return nullptr;
    }
    auto reader = std::make_unique<LibavReader>(loaded.table, std::move(source));
    *error = reader->open(request);
    if (!error->empty()) return nullptr;
    return reader;
}

}  // namespace lumaqc::io

#else

namespace lumaqc::io {

bool libavAvailable() { return false; }

bool picturesAvailable(std::string* why) {
    if (why != nullptr) *why = "this lumaqc was built without FFmpeg's libraries";
    return false;
}
bool scaleLuma(const Plane&, int32_t, int32_t, uint8_t*) { return false; }
bool scaleColour(const ReadResult&, int32_t, int32_t, uint8_t*) { return false; }
std::string jpegOfPicture(const uint8_t*, bool, int32_t, int32_t) { return ""; }

std::unique_ptr<Reader> openLibavReader(std::unique_ptr<Source>, const InputRequest&, std::string* error) {
    *error = "Reading through libav is not available in this build";
    return nullptr;
}

}  // namespace lumaqc::io

#endif
