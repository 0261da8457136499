#include "tools/pictures.hpp"

#include <cstdlib>

namespace lumaqc {

// Sizes whose byte count does not fit size_t cannot be allocated: they leave
// data null, like any other failed allocation.
size_t pictureBytes(uint64_t w, uint64_t h, size_t elementSize) {
    if (w != 0 && h > SIZE_MAX / w) return SIZE_MAX;
    uint64_t n = w * h;
    if (n > SIZE_MAX / elementSize) return SIZE_MAX;
    return static_cast<size_t>(n) * elementSize;
}

static void* callocPixels(uint64_t w, uint64_t h, size_t elementSize) {
    size_t bytes = pictureBytes(w, h, elementSize);
    if (bytes == SIZE_MAX) return nullptr;
    return std::calloc(bytes == 0 ? 1 : bytes / elementSize, bytes == 0 ? 1 : elementSize);
}

Image callocImage(uint64_t w, uint64_t h) { return Image{w, h, static_cast<uint8_t*>(callocPixels(w, h, 1))}; }
Image32 callocImage32(uint64_t w, uint64_t h) {
    return Image32{w, h, static_cast<int32_t*>(callocPixels(w, h, sizeof(int32_t)))};
}
ImageDouble callocImageDouble(uint64_t w, uint64_t h) {
    return ImageDouble{w, h, static_cast<double*>(callocPixels(w, h, sizeof(double)))};
}

void freeImage(Image* img) { std::free(img->data); }
void freeImage32(Image32* img) { std::free(img->data); }
void freeImageDouble(ImageDouble* img) { std::free(img->data); }

}  // namespace lumaqc
