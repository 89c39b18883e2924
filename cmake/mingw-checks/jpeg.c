/* libjpeg-turbo from the cache: a grey gradient coded to memory and decoded again. */
#include <stdio.h>
#include <stdlib.h>
/* jpeglib.h needs size_t and FILE declared before it. */
#include <jpeglib.h>

enum { W = 64, H = 32 };

int main(void) {
    static unsigned char pixels[W * H];
    for (int i = 0; i < W * H; ++i)
        pixels[i] = (unsigned char)(i % W * 4);

    struct jpeg_compress_struct c;
    struct jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* coded = NULL;
    unsigned long codedLen = 0;
    jpeg_mem_dest(&c, &coded, &codedLen);
    c.image_width = W;
    c.image_height = H;
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < H) {
        JSAMPROW row = &pixels[c.next_scanline * W];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);

    struct jpeg_decompress_struct d;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, coded, codedLen);
    if (jpeg_read_header(&d, TRUE) != JPEG_HEADER_OK)
        return 1;
    jpeg_start_decompress(&d);
    if (d.output_width != W || d.output_height != H || d.output_components != 1)
        return 2;
    unsigned char row[W];
    int worst = 0;
    while (d.output_scanline < H) {
        JSAMPROW out = row;
        jpeg_read_scanlines(&d, &out, 1);
        for (int x = 0; x < W; ++x) {
            int diff = abs(row[x] - pixels[x]);
            if (diff > worst)
                worst = diff;
        }
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    free(coded);
    /* Lossy, but a smooth gradient comes back close. */
    if (worst > 16)
        return 3;
    printf("libjpeg %d: %dx%d grey in %lu bytes, worst pixel off by %d\n", JPEG_LIB_VERSION, W, H,
           codedLen, worst);
    return 0;
}
