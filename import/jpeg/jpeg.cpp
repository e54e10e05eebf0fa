// jpeg.spi: baseline, progressive and arithmetic-coded JPEG through libjpeg-turbo. Grey
// pictures become 8-bit grey, colour ones 24-bit; CMYK (plain or Adobe-inverted) is turned
// into red, green and blue. A scan that libjpeg has to patch up (premature end, bad codes) is
// refused rather than delivered with grey filler.
#include <csetjmp>
#include <cstdio>  // before jpeglib.h, which uses FILE
#include <jpeglib.h>
#include <jerror.h>

#include <memory>

#include "spi_common.h"

namespace {

constexpr spi::Format kFormat = {"Quorvel JPEG reader (libjpeg-turbo)", "*.jpg;*.jpeg;*.jpe;*.jfif",
                                 "JPEG"};

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool damaged = false;
};

// libjpeg's own handlers print and exit: ours print nothing and give up through the jump.
[[noreturn]] void on_error(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void on_message(j_common_ptr cinfo, int level) {
    if (level >= 0) return;  // trace messages
    switch (cinfo->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_BOGUS_PROGRESSION:
            reinterpret_cast<ErrorManager*>(cinfo->err)->damaged = true;
            break;
        default:
            break;  // harmless: extraneous bytes, unknown markers, revisions
    }
}

void no_output(j_common_ptr) {}

// Everything a decoding needs, kept outside the frame that calls setjmp so that nothing in
// that frame changes between the jump's setting and its use.
struct Job {
    jpeg_decompress_struct cinfo;
    ErrorManager errors;
    bool created = false;
    FILE* file = nullptr;
    uint64_t file_size = 0;
    spi::Dib dib;
    int32_t result = SUSIE_BAD_DATA;

    ~Job() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

// Each 8 by 8 block of the fullest component costs a Huffman-coded scan at least one bit; an
// arithmetic coder can go below that, so allow it 64 blocks a bit.
bool deliverable(const jpeg_decompress_struct& cinfo, uint64_t file_size) {
    const uint64_t blocks =
        uint64_t((cinfo.image_width + 7) / 8) * uint64_t((cinfo.image_height + 7) / 8);
    return file_size * 8 * (cinfo.arith_code ? 64 : 1) >= blocks;
}

// Adobe writers store CMYK inverted: then a sample is the amount of paper left, not of ink.
void cmyk_row(const uint8_t* from, uint8_t* to, uint32_t width, bool inverted) {
    for (uint32_t x = 0; x < width; ++x, from += 4, to += 3) {
        const unsigned k = inverted ? from[3] : 255u - from[3];
        for (int c = 0; c < 3; ++c) {
            const unsigned left = inverted ? from[c] : 255u - from[c];
            to[2 - c] = uint8_t((left * k + 127) / 255);
        }
    }
}

// The decoding proper; false when libjpeg gave up (the job's result says why).
bool decode(Job& job) {
    if (setjmp(job.errors.jump)) return false;
    jpeg_decompress_struct& cinfo = job.cinfo;
    jpeg_create_decompress(&cinfo);
    job.created = true;
    jpeg_stdio_src(&cinfo, job.file);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;
    if (!spi::side_ok(cinfo.image_width, cinfo.image_height) || !deliverable(cinfo, job.file_size))
        return false;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    cinfo.out_color_space = cmyk ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_calc_output_dimensions(&cinfo);
    if (cinfo.output_width != cinfo.image_width || cinfo.output_height != cinfo.image_height)
        return false;
    const int32_t width = int32_t(cinfo.output_width), height = int32_t(cinfo.output_height);
    if (!(grey ? job.dib.create_grey(width, height) : job.dib.create_colour(width, height))) {
        job.result = SUSIE_NO_MEMORY;
        return false;
    }
    // The CMYK row lives in libjpeg's pool, which jpeg_destroy_decompress releases.
    JSAMPARRAY ink = cmyk ? (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                       JPOOL_IMAGE, cinfo.output_width * 4, 1)
                          : nullptr;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
        const int32_t y = int32_t(cinfo.output_scanline);
        JSAMPROW row = cmyk ? ink[0] : job.dib.row(y);
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) return false;
        if (cmyk) cmyk_row(ink[0], job.dib.row(y), cinfo.output_width, cinfo.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&cinfo);
    return !job.errors.damaged;
}

}  // namespace

QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPluginInfo(int32_t infono, char* buf,
                                                    int32_t buflen) noexcept {
    return spi::plugin_info(kFormat, infono, buf, buflen);
}

// A start-of-image marker followed by another marker.
QV_EXTERN_C QV_EXPORT int32_t QV_CALL IsSupported(const char*, const void* header) noexcept {
    const auto* p = static_cast<const uint8_t*>(header);
    return p && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF && p[3] >= 0xC0 && p[3] != 0xFF ? 1
                                                                                             : 0;
}

QV_EXTERN_C QV_EXPORT int32_t QV_CALL GetPicture(const char* buf, int32_t len, uint32_t flag,
                                                 PlatformHandle* info, PlatformHandle* bits,
                                                 SusieProgress, int32_t) noexcept {
    return spi::get_picture(buf, len, flag, info, bits, [&]() -> int32_t {
        auto job = std::make_unique<Job>();
        spi::File file = spi::open_file(buf, job->file_size);
        if (!file) return SUSIE_READ_ERROR;
        job->file = file.get();
        job->cinfo.err = jpeg_std_error(&job->errors.pub);
        job->errors.pub.error_exit = on_error;
        job->errors.pub.emit_message = on_message;
        job->errors.pub.output_message = no_output;
        if (!decode(*job)) return job->result;
        return job->dib.deliver(info, bits);
    });
}
