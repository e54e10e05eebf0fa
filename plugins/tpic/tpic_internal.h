// Inside the tpic plug-in: the picture's text, the size as the dialog reads it, and the two
// faces of the size dialog (GTK with a display, the terminal without one).
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "qvplugin.h"

// The size that the dialog offers every time it opens, in thousandths of an inch.
constexpr uint32_t kTpicDefaultSize = 4000;
// The dialog's caption and the size field's label.
constexpr char kTpicCaption[] = "Qvtpic";
constexpr char kTpicSizeLabel[] = "出力サイズ(minch):";

// The module's own build date as the compiler gives it ("Apr 15 2001").
extern const char tpic_build_date[];

// Writes the LaTeX2e picture of the chain with its longer side size thousandths of an inch
// long; every line ends in CR LF. Only the low 16 bits of each bound slot count, as signed
// values. Failed writes are not reported: the caller looks at nothing but the opening.
void tpic_write(FILE* out, const Dot* chain, int32_t minx, int32_t miny, int32_t maxx, int32_t maxy,
                uint32_t size) noexcept;

// The text of the size field read as an unsigned number: optional leading blanks, then
// decimal digits to the end. 0 for an empty text, anything else, or a number above 32 bits.
uint32_t tpic_parse_size(const char* text) noexcept;

// The size dialog on a terminal: shows the field's label and its value on out and reads
// answers from in until one is a nonzero size (an empty line takes the value shown).
// 0 when in ends first: the dialog was closed.
uint32_t tpic_prompt(FILE* in, FILE* out) noexcept;

// The size dialog in GTK; 0 when it was closed. GTK must be initialised.
uint32_t tpic_dialog_gtk() noexcept;

// Asks for the size: the GTK dialog when a display can be opened, else the terminal prompt on
// standard input and standard error. 0 when the dialog was closed.
uint32_t tpic_ask_size() noexcept;
