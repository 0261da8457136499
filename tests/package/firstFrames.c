/* Analyses the first frames of a raw 4:2:0 clip through the installed library
 * and prints each row as the analyser's log writes it. */
#include <lumaqc/lumaqc.h>
#include <stdio.h>
#include <stdlib.h>

static int exposureColumn(double v) { return v > -2147483649.0 && v < 2147483648.0 ? (int)v : (int)(-2147483647 - 1); }

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    const int w = atoi(argv[2]), h = atoi(argv[3]), frames = atoi(argv[4]);
    FILE* clip = fopen(argv[1], "rb");
    lumaqc_context* ctx = NULL;
    if (clip == NULL || lumaqc_open(&ctx, w, h, NULL) != LUMAQC_OK) return 1;
    const size_t frameBytes = (size_t)w * h * 3 / 2;
    unsigned char* frame = malloc(frameBytes);
    for (int i = 0; i < frames && fread(frame, 1, frameBytes, clip) == frameBytes; ++i) {
        lumaqc_result r;
        if (lumaqc_analyse(ctx, frame, w, &r) != LUMAQC_OK) return 1;
        printf("%05i \t%-5.5f \t%-5.5f \t%-5.5f \t%-5.5f \t%-5.5f \t%-5.3f \t%-5.5f \t%-d \t%-d \t%-6i \t%-5.5f \t%-5.5f "
               "\t%-8.4f \t%-7.3f \t%-5.5f\n",
               (int)r.frame, r.blockiness, r.spatial_activity, r.letterbox, r.pillarbox, r.block_loss, r.blur,
               r.temporal_activity, r.blackout, r.freezing, exposureColumn(r.exposure), r.contrast, r.interlace,
               r.noise, r.slice, r.flickering);
    }
    free(frame);
    fclose(clip);
    return lumaqc_close(&ctx);
}
