// Shared between import.cpp and its tests: the conversion of a plug-in's picture to grey.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "quorvel.h"

// Converts a device-independent bitmap, its information block (header, then bit-field masks
// or colour table) and its pixel bits, to grey: the truncated mean of red, green and blue,
// row 0 at the top. Reads 1, 4 and 8 bits with a colour table, 16 bits (5-5-5 or bit fields),
// 24 and 32 bits (plain or bit fields), rows bottom-up or top-down. Null for any other form,
// for sides of 0 or above 4096, when the blocks are smaller than the header says, or without
// memory. Never reads outside the two blocks.
GrayImage* dib_to_gray(const uint8_t* info, size_t info_size, const uint8_t* bits,
                       size_t bits_size) noexcept;
