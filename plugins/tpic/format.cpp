// The picture's text and the terminal face of the size dialog.
#include <charconv>
#include <cstring>
#include <string>

#include "tpic_internal.h"

namespace {
constexpr double kTwoPi = 6.283185307179586;  // the double nearest to 2 pi

// printf's "%.0f" (decimals 0) and "%f" (decimals 6) as the C locale gives them. to_chars is
// defined as exactly that, so neither the locale GTK takes from the environment (a decimal
// comma) nor the platform's C library (msvcrt rounds halves away from zero) changes a digit.
void put_fixed(std::string& line, double value, int decimals) {
    char digits[400];  // enough for any finite double with six decimals
    const auto result =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    line.append(digits, result.ptr);
}

// The same file wherever it is written: CR LF spelt out, the file opened in binary.
void put_line(FILE* out, const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), out);
    std::fwrite("\r\n", 1, 2, out);
}

// A side in dot units from the low 16 bits of its bounds, unsigned. Only a box spanning all
// 65536 values wraps to 0; it is taken at its true length so the scale never divides by 0.
uint32_t side(int32_t low, int32_t high) {
    const uint16_t length = uint16_t(QV_BOUND(high) - QV_BOUND(low) + 1);
    return length ? length : 65536u;
}
}  // namespace

void tpic_write(FILE* out, const Dot* chain, int32_t minx, int32_t miny, int32_t maxx, int32_t maxy,
                uint32_t size) noexcept {
    if (!out) return;
    try {
        const uint32_t w = side(minx, maxx), h = side(miny, maxy);
        const double scale = double(size) / double(w >= h ? w : h);
        std::string line = "\\setlength{\\unitlength}{.001in}";
        put_line(out, line);
        line = "\\begin{picture}(";
        put_fixed(line, w * scale, 0);
        line += ',';
        put_fixed(line, h * scale, 0);
        line += ")(";
        put_fixed(line, QV_BOUND(minx) * scale, 0);
        line += ',';
        put_fixed(line, QV_BOUND(miny) * scale, 0);
        line += ')';
        put_line(out, line);
        for (const Dot* dot = chain; dot; dot = dot->link) {
            line = "\\special{sh 1}\\special{ia ";
            put_fixed(line, dot->x * scale, 0);
            line += ' ';
            // The integer is negated before it meets the scale, so y = 0 prints 0, not -0.
            put_fixed(line, -int32_t(dot->y) * scale, 0);
            line += ' ';
            put_fixed(line, dot->size * scale, 0);
            line += ' ';
            put_fixed(line, dot->size * scale, 0);
            line += ' ';
            put_fixed(line, 0.0, 6);
            line += ' ';
            put_fixed(line, kTwoPi, 6);
            line += "}%";
            put_line(out, line);
        }
        put_line(out, "\\end{picture}");
    } catch (...) {
        // Out of memory for one line: the file stays short, as any other failed write.
    }
}

uint32_t tpic_parse_size(const char* text) noexcept {
    if (!text) return 0;
    while (*text == ' ' || *text == '\t') ++text;
    if (!*text) return 0;
    uint64_t value = 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9') return 0;
        value = value * 10 + uint64_t(*text - '0');
        if (value > UINT32_MAX) return 0;  // too large is no number at all
    }
    return uint32_t(value);
}

uint32_t tpic_prompt(FILE* in, FILE* out) noexcept {
    if (!in || !out) return 0;
    char line[1024];
    for (;;) {
        std::fprintf(out, "%s %s [%u] ", kTpicCaption, kTpicSizeLabel, kTpicDefaultSize);
        std::fflush(out);
        // One answer per line; what does not fit the field's buffer is no size.
        size_t length = 0;
        bool fits = true, any = false;
        int c;
        while ((c = std::fgetc(in)) != EOF && c != '\n') {
            any = true;
            if (c == '\0' || length + 1 >= sizeof line)
                fits = false;
            else
                line[length++] = char(c);
        }
        if (c == EOF && !any) {
            std::fputc('\n', out);
            return 0;  // end of input closes the dialog
        }
        if (length && line[length - 1] == '\r') --length;  // typed on a CR LF terminal
        line[length] = '\0';
        if (!fits) continue;
        if (!length) return kTpicDefaultSize;
        if (const uint32_t size = tpic_parse_size(line)) return size;
    }
}
