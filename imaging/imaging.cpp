#include "imaging/imaging.h"

#include <unistd.h>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <jpeglib.h>
}

namespace {

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegError *>(cinfo->err)->jump, 1);
}
void OnJpegMessage(j_common_ptr) {}

bool AllocImage(ImageBgr *img, int width, int height) {
    if (width <= 0 || height <= 0 || width > 32768 || height > 32768) return false;
    img->width = width;
    img->height = height;
    img->stride = (width * 3 + 3) & ~3;
    img->bgr = static_cast<uint8_t *>(std::calloc(size_t(img->stride) * height, 1));
    return img->bgr != nullptr;
}

void Put16(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t *p, uint32_t v) {
    Put16(p, v);
    Put16(p + 2, v >> 16);
}
uint32_t Get16(const uint8_t *p) { return p[0] | uint32_t(p[1]) << 8; }
uint32_t Get32(const uint8_t *p) { return Get16(p) | Get16(p + 2) << 16; }

}  // namespace

int ImageWriteJpeg(const char *path, const uint8_t *bgr, int width, int height, int stride,
                   int quality) {
    if (!path || !bgr || width <= 0 || height <= 0 || stride < width * 3) return 0;
    FILE *f = std::fopen(path, "wb");
    if (!f) return 0;
    jpeg_compress_struct cinfo;
    JpegError err;
    uint8_t *row = static_cast<uint8_t *>(std::malloc(size_t(width) * 3));
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = OnJpegError;
    err.mgr.output_message = OnJpegMessage;
    if (!row || setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(row);
        std::fclose(f);
        unlink(path);
        return 0;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t *src = bgr + size_t(cinfo.next_scanline) * stride;
        for (int x = 0; x < width; ++x) {
            row[3 * x] = src[3 * x + 2];
            row[3 * x + 1] = src[3 * x + 1];
            row[3 * x + 2] = src[3 * x];
        }
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::free(row);
    if (std::fclose(f) != 0) {
        unlink(path);
        return 0;
    }
    return 1;
}

int ImageReadJpeg(const char *path, ImageBgr *out) {
    if (!path || !out) return 0;
    std::memset(out, 0, sizeof(*out));
    FILE *f = std::fopen(path, "rb");
    if (!f) return 0;
    jpeg_decompress_struct cinfo;
    JpegError err;
    uint8_t *volatile row = nullptr;  // survives the longjmp of an error
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = OnJpegError;
    err.mgr.output_message = OnJpegMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(row);
        std::fclose(f);
        ImageFree(out);
        return 0;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3 ||
        !AllocImage(out, int(cinfo.output_width), int(cinfo.output_height))) {
        std::longjmp(err.jump, 1);
    }
    row = static_cast<uint8_t *>(std::malloc(size_t(out->width) * 3));
    if (!row) std::longjmp(err.jump, 1);
    while (cinfo.output_scanline < cinfo.output_height) {
        uint8_t *dst = out->bgr + size_t(cinfo.output_scanline) * out->stride;
        JSAMPROW rows[1] = {row};
        jpeg_read_scanlines(&cinfo, rows, 1);
        for (int x = 0; x < out->width; ++x) {
            dst[3 * x] = row[3 * x + 2];
            dst[3 * x + 1] = row[3 * x + 1];
            dst[3 * x + 2] = row[3 * x];
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::free(row);
    std::fclose(f);
    return 1;
}

int ImageWriteBmp(const char *path, const uint8_t *bgr, int width, int height, int stride) {
    if (!path || !bgr || width <= 0 || height <= 0 || stride < width * 3) return 0;
    const uint32_t row_bytes = (uint32_t(width) * 3 + 3) & ~3u;
    const uint32_t image_bytes = row_bytes * uint32_t(height);
    uint8_t head[54] = {'B', 'M'};
    Put32(head + 2, 54 + image_bytes);
    Put32(head + 10, 54);
    Put32(head + 14, 40);
    Put32(head + 18, uint32_t(width));
    Put32(head + 22, uint32_t(height));
    Put16(head + 26, 1);
    Put16(head + 28, 24);
    Put32(head + 34, image_bytes);
    Put32(head + 38, 2835);  // 72 dpi
    Put32(head + 42, 2835);
    FILE *f = std::fopen(path, "wb");
    if (!f) return 0;
    bool ok = std::fwrite(head, 1, 54, f) == 54;
    uint8_t *row = static_cast<uint8_t *>(std::calloc(row_bytes, 1));
    ok = ok && row;
    for (int y = height - 1; ok && y >= 0; --y) {
        std::memcpy(row, bgr + size_t(y) * stride, size_t(width) * 3);
        ok = std::fwrite(row, 1, row_bytes, f) == row_bytes;
    }
    std::free(row);
    if (std::fclose(f) != 0) ok = false;
    if (!ok) unlink(path);
    return ok ? 1 : 0;
}

int ImageReadBmp(const char *path, ImageBgr *out) {
    if (!path || !out) return 0;
    std::memset(out, 0, sizeof(*out));
    FILE *f = std::fopen(path, "rb");
    if (!f) return 0;
    uint8_t head[54];
    bool ok = std::fread(head, 1, 54, f) == 54 && head[0] == 'B' && head[1] == 'M';
    int32_t width = 0, height = 0;
    uint32_t offset = 0;
    if (ok) {
        offset = Get32(head + 10);
        width = int32_t(Get32(head + 18));
        height = int32_t(Get32(head + 22));
        ok = Get32(head + 14) >= 40 && Get16(head + 26) == 1 && Get16(head + 28) == 24 &&
             Get32(head + 30) == 0 && height != INT32_MIN;
    }
    bool top_down = height < 0;
    if (top_down) height = -height;
    ok = ok && AllocImage(out, width, height) && std::fseek(f, long(offset), SEEK_SET) == 0;
    const uint32_t row_bytes = (uint32_t(width) * 3 + 3) & ~3u;
    uint8_t *row = ok ? static_cast<uint8_t *>(std::malloc(row_bytes)) : nullptr;
    ok = ok && row;
    for (int i = 0; ok && i < height; ++i) {
        ok = std::fread(row, 1, row_bytes, f) == row_bytes;
        int y = top_down ? i : height - 1 - i;
        if (ok) std::memcpy(out->bgr + size_t(y) * out->stride, row, size_t(width) * 3);
    }
    std::free(row);
    std::fclose(f);
    if (!ok) ImageFree(out);
    return ok ? 1 : 0;
}

void ImageFree(ImageBgr *img) {
    if (!img) return;
    std::free(img->bgr);
    std::memset(img, 0, sizeof(*img));
}
